// The main window: its controls, the program-wide state and the handlers.
#pragma once

#include "analysis/matrix.h"
#include "imaging/road.h"
#include "toolkit/application.h"
#include "toolkit/bitmap.h"
#include "toolkit/controls.h"
#include "toolkit/dialogs.h"
#include "pictures/picture.h"
#include "toolkit/plot_view.h"

#include <memory>

class TForm1 : public TForm {
public:
    TForm1();

    TImage Image1;
    TImage Image2;
    TButton Wczytaj;
    TButton PoliczFFT;
    TButton Zamknij;
    TEdit Edit1;
    TStatusBar StatusBar1;
    TButton Metoda1;
    TButton Metoda2;
    TEdit Edit2;
    TMemo Memo1;
    TLabel Label1;
    TLabel Label2;
    TOpenDialog OpenDialog1;
    TSaveDialog SaveDialog1;
    // The last estimate's fit; a click opens it large.
    TPlot Wykres;
    TButton MetodaPSD;
    TEdit Edit3;
    // The Whittle estimate; its result shows in a box of its own, Edit4.
    TButton MetodaWhittle;
    TEdit Edit4;

    void WczytajClick(TObject* Sender);
    void PoliczFFTClick(TObject* Sender);
    void ZamknijClick(TObject* Sender);
    void Metoda1Click(TObject* Sender);
    void Metoda2Click(TObject* Sender);
    void MetodaPSDClick(TObject* Sender);
    void MetodaWhittleClick(TObject* Sender);

    // The bitmap of Image1 once a file has loaded; null before.
    TBitmap* sourceBitmap = nullptr;
    // The centred spectrum of the last PoliczFFT; null before.
    std::unique_ptr<matrix> currentSpectrum;
    // The loaded picture at its full depth, for the spectral estimate.
    GreyRaster sourcePicture;
    // How the spectrum is drawn: 2, the modulus.
    const int displayMode = spectrumDisplayMode;

private:
    // Metoda 1 and Metoda 2: the dimension of currentSpectrum, shown in the
    // method's edit box and then appended to the log.
    void showDimension(Method method, TEdit& edit);
};

extern TForm1* Form1;
