// Inside the toolkit only: painting a plot with a QPainter.
#pragma once

#include "toolkit/plot.h"

#include <QImage>
#include <QPainter>
#include <QRect>

void paintPlot(QPainter& painter, const QRect& area, const PlotData& plot);
QImage plotImage(const PlotData& plot, int width, int height);
