#include "Polaczone.h"
#include "gui_support.h"
#include "imaging/plots.h"
#include "toolkit/plot_qt.h"

#include <QSvgRenderer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>

namespace {

QPoint at(const PlotLayout& l, double x, double y)
{
    return {static_cast<int>(std::lround(l.left + (x - l.xMin) / (l.xMax - l.xMin) * (l.right - l.left))),
            static_cast<int>(std::lround(l.bottom - (y - l.yMin) / (l.yMax - l.yMin) * (l.bottom - l.top)))};
}

bool dark(QRgb c) { return qGray(c) < 160; }
bool red(QRgb c) { return qRed(c) > 150 && qGreen(c) < 120 && qBlue(c) < 120; }

bool redNear(const QImage& image, QPoint p)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (red(image.pixel(p + QPoint(dx, dy)))) return true;
    return false;
}

int darkPixels(const QImage& image, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += dark(image.pixel(x, y));
    return n;
}

}  // namespace

TEST(Plot, PointsAndLineLandWhereTheirValuesSay)
{
    PlotData plot;
    plot.title = "Metoda 1";
    plot.x = {0, 1, 2, 4, 4};
    plot.y = {5, 3, 1, 5, -3};
    plot.fitted = {true, true, true, false, false};
    plot.line = true;
    plot.slope = -2;
    plot.intercept = 5;
    const QImage image = plotImage(plot, 400, 300);
    const PlotLayout l = plotLayout(plot, 400, 300);
    ASSERT_FALSE(l.empty);
    EXPECT_DOUBLE_EQ(l.xMin, -0.2);  // the range and a twentieth of it on each side
    EXPECT_DOUBLE_EQ(l.yMax, 5.4);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(dark(image.pixel(at(l, plot.x[i], plot.y[i])))) << i;
    // A hollow point: ink on its ring, none at its centre.
    const QPoint hollow = at(l, 4, 5);
    EXPECT_FALSE(dark(image.pixel(hollow)));
    EXPECT_GT(darkPixels(image, QRect(hollow - QPoint(4, 4), QSize(9, 9))), 4);
    // The line over the fitted points, and not beyond them.
    EXPECT_TRUE(redNear(image, at(l, 1.5, 2)));
    EXPECT_FALSE(redNear(image, at(l, 3, -1)));
}

TEST(Plot, TooFewPointsDrawAnEmptyFrameWithAMessage)
{
    for (std::vector<double> x : {std::vector<double>{}, {1.0}, {1.0, NAN}}) {
        PlotData plot;
        plot.x = x;
        plot.y = std::vector<double>(x.size(), 2.0);
        const QImage image = plotImage(plot, 300, 200);
        const PlotLayout l = plotLayout(plot, 300, 200);
        EXPECT_TRUE(l.empty);
        EXPECT_GT(darkPixels(image, QRect(l.left + 20, (l.top + l.bottom) / 2 - 6, l.right - l.left - 40, 12)), 20);
    }
}

TEST(Plot, SvgFilesParseAndRender)
{
    QTemporaryDir dir;
    PlotData plot;
    plot.x = {1, 2, 3};
    plot.y = {1, 4, 9};
    const std::string path = (dir.path() + "/p.svg").toStdString();
    savePlotsSvg({plot, plot}, 320, 240, path);
    QSvgRenderer svg(QString::fromStdString(path));
    ASSERT_TRUE(svg.isValid());
    EXPECT_EQ(svg.viewBox(), QRect(0, 0, 320, 480));
    QImage image(320, 480, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    svg.render(&painter);
    painter.end();
    const PlotLayout l = plotLayout(plot, 320, 240);
    EXPECT_TRUE(dark(image.pixel(at(l, 2, 4))));
    EXPECT_TRUE(dark(image.pixel(at(l, 2, 4) + QPoint(0, 240))));
}

// A spectrum of a picture whose pixel size is known gives its ticks'
// wavelengths along the top edge: ln q = 0 is one cycle a pixel, a
// wavelength of one pixel (2 um here), ln q = -2 is e^2 pixels.
TEST(Plot, ASpectrumWithAPixelSizeGivesItsWavelengths)
{
    PsdResult psd{};
    for (double lnQ : {-4.0, -3.0, -2.0, -1.0, 0.0}) psd.bins.push_back({lnQ, -3 * lnQ, 10, true});
    psd.flags = {"no_fit"};
    const std::string plain = plotsSvg({inEnglish(psdPlot(psd))}, 480, 320);
    const std::string sized = plotsSvg({inEnglish(psdPlot(psd, plotPixelSize(2e-6, 2e-6)))}, 480, 320);
    EXPECT_EQ(plain.find("wavelength"), std::string::npos);
    EXPECT_NE(sized.find("wavelength"), std::string::npos);
    EXPECT_NE(sized.find(">2 \u00b5m<"), std::string::npos);
    EXPECT_NE(sized.find(">14.8 \u00b5m<"), std::string::npos);  // 2 um * e^2
    EXPECT_EQ(plotPixelSize(2e-6, 0), 0.0);
}

TEST(Plot, TheWindowPlotsEachEstimateAndOpensItLarge)
{
    QTemporaryDir dir;
    TForm1 form;
    form.Show();
    const std::string file = writeGreyBmp((dir.path() + "/a.bmp").toStdString(), 96, 80,
                                          [](int x, int y) { return (x * x + 3 * y * y + x * y) % 256; });
    {
        ModalScript script;
        script.chooseFile(file);
        QTest::mouseClick(form.Wczytaj.button(), Qt::LeftButton);
    }
    QTest::mouseClick(form.PoliczFFT.button(), Qt::LeftButton);
    QTest::mouseClick(form.Metoda1.button(), Qt::LeftButton);
    ASSERT_NE(form.Wykres.Plot(), nullptr);
    EXPECT_EQ(form.Wykres.Plot()->title, "Metoda 1");
    EXPECT_EQ(form.Wykres.Plot()->x.size(), 10u);
    QTest::mouseClick(form.MetodaPSD.button(), Qt::LeftButton);
    ASSERT_NE(form.Wykres.Plot(), nullptr);
    EXPECT_EQ(form.Wykres.Plot()->title, "Widmo mocy");
    EXPECT_NE(form.Edit3.GetText().find(" ["), std::string::npos);
    EXPECT_EQ(form.Memo1.Lines[form.Memo1.Lines.Count() - 1], form.Edit3.GetText());
    const std::string psdShown = form.Edit3.GetText();
    QTest::mouseClick(form.MetodaWhittle.button(), Qt::LeftButton);
    ASSERT_NE(form.Wykres.Plot(), nullptr);
    EXPECT_EQ(form.Wykres.Plot()->title, "Periodogram (Whittle)");
    EXPECT_EQ(form.Wykres.Plot()->curveY.size(), form.Wykres.Plot()->y.size());
    EXPECT_GT(form.Wykres.Plot()->y.size(), 5u);
    // Each estimate keeps its own box, D first and shown from its start.
    EXPECT_NE(form.Edit4.GetText().find(" r "), std::string::npos);
    EXPECT_EQ(form.Memo1.Lines[form.Memo1.Lines.Count() - 1], "W " + form.Edit4.GetText());
    EXPECT_EQ(form.Edit3.GetText(), psdShown);
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(form.Edit4.GetText()[0])));
    EXPECT_EQ(form.Edit4.edit()->cursorPosition(), 0);
    EXPECT_EQ(form.Edit3.edit()->cursorPosition(), 0);
    {
        ModalScript script;
        script.closeDialog("PlotWindow", [](QDialog* d) { EXPECT_NE(d->findChild<QPushButton*>("SavePlot"), nullptr); });
        QTest::mouseClick(form.Wykres.widget(), Qt::LeftButton);
        EXPECT_TRUE(script.finished());
    }
    {
        ModalScript script;
        script.chooseFile(file);
        QTest::mouseClick(form.Wczytaj.button(), Qt::LeftButton);
    }
    EXPECT_EQ(form.Wykres.Plot(), nullptr);
    EXPECT_EQ(form.Edit3.GetText(), "");
    EXPECT_EQ(form.Edit4.GetText(), "");

    // The new controls sit in free space: inside the client area, over no other control.
    const QRect client(0, 0, 716, 465);
    for (QWidget* added : {form.Wykres.widget(), form.MetodaPSD.widget(), form.Edit3.widget(), form.MetodaWhittle.widget(),
                             form.Edit4.widget()}) {
        EXPECT_TRUE(client.contains(added->geometry())) << added->objectName().toStdString();
        for (QWidget* other : form.widget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (other != added && other->isVisible()) {
                EXPECT_FALSE(other->geometry().intersects(added->geometry()))
                    << added->objectName().toStdString() << " over " << other->objectName().toStdString();
            }
    }
}

