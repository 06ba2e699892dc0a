// The plot control and its large window.
#include "toolkit/plot_view.h"

#include "toolkit/application.h"
#include "toolkit/plot_qt.h"

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Paints the plot it is given, or nothing; `clicked` runs on a left click.
class PlotBox : public QWidget {
public:
    explicit PlotBox(QWidget* parent) : QWidget(parent) {}
    std::shared_ptr<PlotData> plot;
    std::function<void()> clicked;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (plot) paintPlot(painter, rect(), *plot);
        else painter.fillRect(rect(), palette().color(QPalette::Base));
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && clicked) clicked();
    }
};

// Asks where to save the plot and saves it, as PNG or SVG by the filter
// chosen (or the name's ending).
void save(QWidget* parent, const PlotData& plot)
{
    QFileDialog dialog(parent, QStringLiteral("Zapisz wykres"));
    dialog.setObjectName(QStringLiteral("SavePlotDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({QStringLiteral("Obraz PNG (*.png)"), QStringLiteral("Rysunek SVG (*.svg)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    QString name = dialog.selectedFiles().first();
    const bool svg = name.endsWith(".svg", Qt::CaseInsensitive) ||
                     (!name.endsWith(".png", Qt::CaseInsensitive) && dialog.selectedNameFilter().contains("svg"));
    if (!name.contains('.')) name += svg ? ".svg" : ".png";
    const QSize size = parent->size();
    if (svg) savePlotsSvg({plot}, 640, 480, QFile::encodeName(name).toStdString());
    else savePlotsPng({plot}, std::max(size.width(), 320), std::max(size.height() - 40, 240),
                      QFile::encodeName(name).toStdString());
}

void openLarge(QWidget* parent, const std::shared_ptr<PlotData>& plot)
{
    QDialog window(parent);
    window.setObjectName(QStringLiteral("PlotWindow"));
    window.setWindowTitle(QString::fromStdString("Wykres: " + plot->title));
    window.setSizeGripEnabled(true);
    auto* box = new PlotBox(&window);
    box->plot = plot;
    box->setMinimumSize(320, 240);
    auto* saveButton = new QPushButton(QStringLiteral("Zapisz…"), &window);
    saveButton->setObjectName(QStringLiteral("SavePlot"));
    auto* closeButton = new QPushButton(QStringLiteral("Zamknij"), &window);
    closeButton->setObjectName(QStringLiteral("ClosePlot"));
    QObject::connect(saveButton, &QPushButton::clicked, &window,
                     [&] { Application->RunGuarded([&] { save(&window, *plot); }); });
    QObject::connect(closeButton, &QPushButton::clicked, &window, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(saveButton);
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(box, 1);
    layout->addLayout(buttons);
    window.resize(640, 520);
    window.exec();
}

}  // namespace

TPlot::TPlot(TForm& owner, const std::string& name, TBounds bounds, int tabOrder)
    : TControl(owner, name, new PlotBox(owner.widget()), bounds, tabOrder)
{
    auto* box = static_cast<PlotBox*>(widget());
    box->setCursor(Qt::PointingHandCursor);
    box->setToolTip(QStringLiteral("Kliknij, aby powiększyć"));
    box->clicked = [this, box] {
        if (plot) Application->RunGuarded([&] { openLarge(box->window(), plot); });
    };
}

void TPlot::SetPlot(const PlotData& data)
{
    plot = std::make_shared<PlotData>(data);
    static_cast<PlotBox*>(widget())->plot = plot;
    widget()->update();
}

void TPlot::Clear()
{
    plot.reset();
    static_cast<PlotBox*>(widget())->plot = nullptr;
    widget()->update();
}

const PlotData* TPlot::Plot() const { return plot.get(); }
