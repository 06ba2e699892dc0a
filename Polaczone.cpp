#include "Polaczone.h"

#include "imaging/convert.h"
#include "imaging/plots.h"
#include "imaging/bitmap_road.h"
#include "pictures/files.h"
#include "imaging/numbertext.h"

#include <stdexcept>

TForm1* Form1 = nullptr;

namespace {

const TFont formFont{"MS Sans Serif", 11, clWindowText};
const TFont titleFont{"Comic Sans MS", 11, clMaroon};

}  // namespace

TForm1::TForm1()
    : TForm("Orvane", {206, 112, 724, 499}, {0, 0, 716, 465}, formFont),
      Image1(*this, "Image1", {32, 64, 217, 217}, TPictureAlign::topLeft),
      Image2(*this, "Image2", {288, 64, 217, 217}, TPictureAlign::centre),
      Wczytaj(*this, "Wczytaj", "Wczytaj", {32, 296, 113, 33}, 0),
      PoliczFFT(*this, "PoliczFFT", "PoliczFFT", {288, 296, 113, 33}, 1),
      Zamknij(*this, "Zamknij", "Zamknij", {592, 8, 97, 33}, 2),
      Edit1(*this, "Edit1", "Edit1", {528, 296, 161, 21}, 3),
      StatusBar1(*this, "StatusBar1", {0, 446, 716, 19}),
      Metoda1(*this, "Metoda1", "Metoda 1", {528, 264, 81, 25}, 5),
      Metoda2(*this, "Metoda2", "Metoda 2", {528, 328, 89, 25}, 6),
      Edit2(*this, "Edit2", "Edit2", {528, 360, 161, 21}, 7),
      Memo1(*this, "Memo1", "Memo1", {72, 344, 329, 81}, 8),
      Label1(*this, "Label1", "Orvane 2026", {616, 424, 91, 15}, titleFont),
      Label2(*this, "Label2", "Orvane", {528, 240, 151, 15}, titleFont),
      OpenDialog1(*this, "OpenDialog1",
                  "Bitmapy|*.BMP|Wszystkie obrazy|*.bmp;*.png;*.tif;*.tiff;*.pgm;*.ppm;*.pnm;*.sdf;*.x3p;*.gwy|"
                  "PNG|*.png|TIFF|*.tif;*.tiff|PGM i PPM|*.pgm;*.ppm;*.pnm|Pomiary powierzchni|*.sdf;*.x3p;*.gwy",
                  // Every picture the program reads is shown at the start;
                  // "Bitmapy" stays first in the list.
                  2),
      SaveDialog1(*this, "SaveDialog1"),
      Wykres(*this, "Wykres", {528, 48, 180, 186}, -1),
      MetodaPSD(*this, "MetodaPSD", "Metoda PSD", {416, 390, 97, 25}, 9),
      Edit3(*this, "Edit3", "Edit3", {528, 392, 177, 21}, 10),
      MetodaWhittle(*this, "MetodaWhittle", "Metoda Whittle", {416, 360, 97, 25}, 11),
      Edit4(*this, "Edit4", "Edit4", {416, 420, 193, 21}, 12)
{
    ApplyTabOrder();
    Wczytaj.OnClick(this, &TForm1::WczytajClick);
    PoliczFFT.OnClick(this, &TForm1::PoliczFFTClick);
    Zamknij.OnClick(this, &TForm1::ZamknijClick);
    Metoda1.OnClick(this, &TForm1::Metoda1Click);
    Metoda2.OnClick(this, &TForm1::Metoda2Click);
    MetodaPSD.OnClick(this, &TForm1::MetodaPSDClick);
    MetodaWhittle.OnClick(this, &TForm1::MetodaWhittleClick);
}

void TForm1::WczytajClick(TObject*)
{
    if (!OpenDialog1.Execute()) return;
    // The file is decoded before anything changes, so a file that fails to
    // load leaves the picture loaded before, and sourceBitmap, as they were.
    TBitmap& bitmap = Image1.GetBitmap();
    int pages = 1;
    GreyRaster full;
    loadGreyBitmap(bitmap, OpenDialog1.FileName(), 0, &pages, &full);
    sourceBitmap = &bitmap;
    sourcePicture = std::move(full);
    // The spectrum and the dimensions belong to the picture before: a method
    // must not report them for this one.
    currentSpectrum.reset();
    Image2.Clear();
    Edit1.SetText("");
    Edit2.SetText("");
    Edit3.SetText("");
    Edit4.SetText("");
    Wykres.Clear();
    const std::string shown = displayFileName(OpenDialog1.FileName());
    // A stack of pages opens at its first; the status bar says there are more.
    StatusBar1.SetSimpleText(pages > 1 ? shown + "  (strona 1 z " + std::to_string(pages) + ")" : shown);
    Memo1.Lines.Append(shown);
}

void TForm1::PoliczFFTClick(TObject*)
{
    if (!sourceBitmap) {
        ShowMessage("Najpierw wczytaj obraz.");
        return;
    }
    TBusyCursor busy;
    // Conversion, transform and centring; the previous spectrum is released
    // when the new one takes its place.
    currentSpectrum = centredSpectrum(*sourceBitmap);
    try {
        renderSpectrum(&Image2.GetBitmap(), displayMode, spectrumDisplayScale, currentSpectrum.get());
    } catch (...) {
        ShowMessage("Nie pracuje");
    }
}

void TForm1::Metoda1Click(TObject*) { showDimension(Method::one, Edit1); }

void TForm1::Metoda2Click(TObject*) { showDimension(Method::two, Edit2); }

void TForm1::showDimension(Method method, TEdit& edit)
{
    if (!currentSpectrum) {
        ShowMessage("Najpierw policz FFT.");
        return;
    }
    double D;
    FitPoints points;
    {
        TBusyCursor busy;
        D = fractalDimension(*currentSpectrum, method, ShowMessage, &points);
    }
    edit.SetText(FloatToStr(D));
    Memo1.Lines.Append(FloatToStr(D));
    Wykres.SetPlot(methodPlot(method == Method::one ? 1 : 2, points, D));
}

void TForm1::MetodaPSDClick(TObject*)
{
    if (!sourceBitmap) {
        ShowMessage("Najpierw wczytaj obraz.");
        return;
    }
    PsdResult psd;
    try {
        TBusyCursor busy;
        psd = psdDimension(sourcePicture, PsdOptions{});
    } catch (const std::invalid_argument& e) {
        // The reason is the estimator's, in English; so is the whole message.
        ShowMessage(std::string("The dimension cannot be estimated from the power spectrum: ") + e.what());
        return;
    }
    Edit3.SetText(psdText(psd));
    Memo1.Lines.Append(psdText(psd));
    Wykres.SetPlot(psdPlot(psd, plotPixelSize(sourcePicture.dx, sourcePicture.dy)));
}

void TForm1::MetodaWhittleClick(TObject*)
{
    if (!sourceBitmap) {
        ShowMessage("Najpierw wczytaj obraz.");
        return;
    }
    WhittleResult whittle;
    try {
        TBusyCursor busy;
        whittle = whittleDimension(sourcePicture);
    } catch (const std::invalid_argument& e) {
        // The reason is the estimator's, in English; so is the whole message.
        ShowMessage(std::string("The dimension cannot be estimated by the Whittle fit: ") + e.what());
        return;
    }
    // The box begins with D; the log keeps the "W" that tells its lines apart.
    Edit4.SetText(whittleText(whittle).substr(2));
    Memo1.Lines.Append(whittleText(whittle));
    Wykres.SetPlot(whittlePlot(whittle, plotPixelSize(sourcePicture.dx, sourcePicture.dy)));
}

void TForm1::ZamknijClick(TObject*)
{
    if (SaveDialog1.Execute()) Memo1.Lines.SaveToFile(SaveDialog1.FileName());
    Close();
}
