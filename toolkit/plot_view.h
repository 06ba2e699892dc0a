// The plot control of a window: shows the last fit's plot; a click opens it
// large in a window of its own, resizable, which can save it as PNG or SVG.
#pragma once

#include "toolkit/controls.h"
#include "toolkit/plot.h"

#include <memory>

class QWidget;

class TPlot : public TControl {
public:
    TPlot(TForm& owner, const std::string& name, TBounds bounds, int tabOrder);
    void SetPlot(const PlotData& plot);
    void Clear();
    // The plot shown; null when there is none.
    const PlotData* Plot() const;

private:
    std::shared_ptr<PlotData> plot;
};
