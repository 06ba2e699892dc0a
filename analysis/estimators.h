#pragma once

#include <functional>
#include <string>

class matrix;

// Receives the estimators' failure message ("PALANT!!!").  The window shows
// it in a message box; the default writes it to standard error.
using Notifier = std::function<void(const std::string&)>;
void notifyOnStandardError(const std::string& message);

// The points of a least-squares fit: slots [first, first + count) of x and y
// hold ln(threshold) and ln(count).  A slot the point loop did not reach is NaN.
struct FitPoints {
    int first = 0;
    int count = 0;
    double x[10];
    double y[10];
};

// The number of values[0 .. cols*rows-1] strictly above threshold; 0.0 when
// cols*rows is not positive.
double countAbove(const double* values, int cols, int rows, double threshold);

// Slope of the least-squares line through (ln t, ln N(t)) for ten thresholds
// t = M e^(-0.35 - 0.2 i), M the largest value of the spectrum's last row and
// N(t) the number of values above t among the first cols*rows.  When the
// point loop fails (a logarithm of zero or less) `notify` gets "PALANT!!!",
// the fit still runs and the slope is NaN.
double estimateMethod1(const matrix& spectrum, int cols, int rows, const Notifier& notify = notifyOnStandardError,
                       FitPoints* points = nullptr);

// As estimateMethod1 with eight thresholds t = i M / 10, i = 1 .. 8.
double estimateMethod2(const matrix& spectrum, int cols, int rows, const Notifier& notify = notifyOnStandardError,
                       FitPoints* points = nullptr);
