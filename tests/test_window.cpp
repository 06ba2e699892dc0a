#include "Polaczone.h"
#include "gui_support.h"
#include "toolkit/bitmap_qt.h"

#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>

namespace {

class Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<TForm1>();
        form->Show();
    }

    std::string path(const std::string& name) const { return (dir.path() + "/" + QString::fromStdString(name)).toStdString(); }

    // Presses a button and answers the windows it opens with `script`.
    void press(TButton& button, ModalScript& script)
    {
        QTest::mouseClick(button.button(), Qt::LeftButton);
        EXPECT_TRUE(script.finished()) << "unexpected: " << (script.unexpected.empty() ? "" : script.unexpected[0]);
    }

    void load(const std::string& file)
    {
        ModalScript script;
        script.chooseFile(file);
        press(form->Wczytaj, script);
    }

    std::vector<std::string> logLines() const
    {
        std::vector<std::string> lines;
        for (int i = 0; i < form->Memo1.Lines.Count(); ++i) lines.push_back(form->Memo1.Lines[i]);
        return lines;
    }

    QTemporaryDir dir;
    std::unique_ptr<TForm1> form;
};

}  // namespace

TEST_F(Window, ControlsAreLaidOutAsDesigned)
{
    QWidget* w = form->widget();
    EXPECT_EQ(w->windowTitle(), "Orvane");
    EXPECT_EQ(w->size(), QSize(716, 465));
    struct Expected {
        const char* name;
        QRect geometry;
        const char* text;
    };
    const Expected expected[] = {
        {"Image1", {32, 64, 217, 217}, nullptr},      {"Image2", {288, 64, 217, 217}, nullptr},
        {"Wczytaj", {32, 296, 113, 33}, "Wczytaj"},   {"PoliczFFT", {288, 296, 113, 33}, "PoliczFFT"},
        {"Zamknij", {592, 8, 97, 33}, "Zamknij"},     {"Edit1", {528, 296, 161, 21}, "Edit1"},
        {"StatusBar1", {0, 446, 716, 19}, nullptr},   {"Metoda1", {528, 264, 81, 25}, "Metoda 1"},
        {"Metoda2", {528, 328, 89, 25}, "Metoda 2"},  {"Edit2", {528, 360, 161, 21}, "Edit2"},
        {"Memo1", {72, 344, 329, 81}, "Memo1"},       {"Label1", {616, 424, 91, 15}, nullptr},
        {"Label2", {528, 240, 151, 15}, "Orvane"},
    };
    for (const auto& e : expected) {
        auto* control = w->findChild<QWidget*>(e.name);
        ASSERT_NE(control, nullptr) << e.name;
        EXPECT_EQ(control->geometry(), e.geometry) << e.name;
        if (!e.text) continue;
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(control)) text = b->text();
        if (auto* l = qobject_cast<QLineEdit*>(control)) text = l->text();
        if (auto* m = qobject_cast<QPlainTextEdit*>(control)) text = m->toPlainText();
        if (auto* l = qobject_cast<QLabel*>(control)) text = l->text();
        EXPECT_EQ(text.toStdString(), e.text) << e.name;
    }
    EXPECT_EQ(form->StatusBar1.GetSimpleText(), "");
    EXPECT_FALSE(form->Label1.GetCaption().empty());
    EXPECT_EQ(form->Label2.widget()->palette().color(QPalette::WindowText), QColor(0x80, 0, 0));
    EXPECT_EQ(form->Label2.widget()->font().pixelSize(), 11);

    // Tab order: Wczytaj, PoliczFFT, Zamknij, Edit1, Metoda1, Metoda2, Edit2, Memo1.
    const char* order[] = {"Wczytaj", "PoliczFFT", "Zamknij", "Edit1", "Metoda1", "Metoda2", "Edit2", "Memo1"};
    auto nextTabStop = [](QWidget* from) {
        QWidget* next = from->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
        return next;
    };
    for (int i = 0; i + 1 < 8; ++i)
        EXPECT_EQ(nextTabStop(w->findChild<QWidget*>(order[i])), w->findChild<QWidget*>(order[i + 1])) << order[i];
    EXPECT_EQ(form->sourceBitmap, nullptr);
    EXPECT_EQ(form->currentSpectrum, nullptr);
}

TEST_F(Window, LoadThroughTheFileDialogShowsAndLogsTheFile)
{
    const std::string file = writeGreyBmp(path("ramp.bmp"), 300, 20, [](int x, int y) { return (x + y) % 256; });
    load(file);
    ASSERT_EQ(form->sourceBitmap, &form->Image1.GetBitmap());
    EXPECT_EQ(form->sourceBitmap->GetWidth(), 300);
    EXPECT_EQ(form->sourceBitmap->GetHeight(), 20);
    EXPECT_EQ(form->sourceBitmap->GetScanline(3)[10], 13);
    const TPalette* palette = form->sourceBitmap->GetPalette();
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(palette->entries[77].red, 77);
    EXPECT_EQ(form->StatusBar1.GetSimpleText(), file);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Memo1", file}));

    // A second file: the log keeps both, the status bar shows the second.
    const std::string second = writeGreyBmp(path("second.BMP"), 4, 4, [](int, int) { return 9; });
    load(second);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Memo1", file, second}));
    EXPECT_EQ(form->StatusBar1.GetSimpleText(), second);
    EXPECT_EQ(form->sourceBitmap->GetWidth(), 4);
}

TEST_F(Window, CancellingTheOpenDialogChangesNothing)
{
    ModalScript script;
    script.cancelFileDialog();
    press(form->Wczytaj, script);
    EXPECT_EQ(form->sourceBitmap, nullptr);
    EXPECT_EQ(logLines(), std::vector<std::string>{"Memo1"});
    EXPECT_EQ(form->StatusBar1.GetSimpleText(), "");
}

TEST_F(Window, OpenDialogListsBitmapsAndEveryFormatReadInAnyLetterCase)
{
    for (const char* name : {"a.bmp", "b.BMP", "c.Bmp", "d.txt", "e.png", "f.TIF", "g.tiff", "h.pgm", "i.PPM"})
        QFile(QString::fromStdString(path(name))).open(QIODevice::WriteOnly);
    std::map<QString, QStringList> listed;
    QStringList filters;
    QString first;
    ModalScript script;
    script.cancelFileDialog([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        first = dialog->selectedNameFilter();
        dialog->setDirectory(dir.path());
        auto* model = dialog->findChild<QFileSystemModel*>();
        ASSERT_NE(model, nullptr);
        for (const auto& [filter, shown] : {std::pair{filters.value(0), 3}, {filters.value(1), 8}}) {
            dialog->selectNameFilter(filter);
            const QModelIndex root = model->index(dir.path());
            QTRY_VERIFY_WITH_TIMEOUT(model->rowCount(root) >= shown, 5000);
            for (int r = 0; r < model->rowCount(root); ++r) {
                const QModelIndex i = model->index(r, 0, root);
                if (model->flags(i) & Qt::ItemIsEnabled) listed[filter] << model->fileName(i);
            }
            listed[filter].sort();
        }
    });
    press(form->Wczytaj, script);
    ASSERT_GE(filters.size(), 2);
    EXPECT_EQ(filters[0], "Bitmapy (*.BMP)");
    // It opens on every picture it reads, not on BMP files alone.
    EXPECT_EQ(first, filters[1]);
    EXPECT_EQ(listed[filters[0]], (QStringList{"a.bmp", "b.BMP", "c.Bmp"}));
    EXPECT_EQ(listed[filters[1]], (QStringList{"a.bmp", "b.BMP", "c.Bmp", "e.png", "f.TIF", "g.tiff", "h.pgm", "i.PPM"}));
}

TEST_F(Window, AFileThatFailsToLoadChangesNothing)
{
    const std::string good = writeGreyBmp(path("good.bmp"), 8, 8, [](int x, int) { return x; });
    load(good);
    std::ofstream(path("broken.bmp")) << "BM this is not a bitmap";

    ModalScript script;
    script.chooseFile(path("broken.bmp")).acceptMessage();
    press(form->Wczytaj, script);
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_NE(script.messages[0].find("broken.bmp"), std::string::npos) << script.messages[0];
    EXPECT_EQ(form->sourceBitmap->GetWidth(), 8);
    EXPECT_EQ(form->sourceBitmap->GetScanline(0)[5], 5);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Memo1", good}));
    EXPECT_EQ(form->StatusBar1.GetSimpleText(), good);
}

TEST_F(Window, AFailedFirstLoadLeavesNoImage)
{
    std::ofstream(path("empty.bmp")) << "";
    ModalScript script;
    script.chooseFile(path("empty.bmp")).acceptMessage();
    press(form->Wczytaj, script);
    EXPECT_EQ(form->sourceBitmap, nullptr);
    EXPECT_EQ(script.messages.size(), 1u);
}

TEST_F(Window, CloseWithCancelStillCloses)
{
    ModalScript script;
    script.cancelFileDialog();
    press(form->Zamknij, script);
    EXPECT_FALSE(form->widget()->isVisible());
}

TEST_F(Window, CloseWithConfirmSavesTheLog)
{
    const std::string loaded = writeGreyBmp(path("x.bmp"), 2, 2, [](int, int) { return 1; });
    load(loaded);
    form->Memo1.Lines.Append("zażółć");
    ModalScript script;
    script.chooseFile(path("log.txt"));
    press(form->Zamknij, script);
    EXPECT_EQ(readFile(path("log.txt")), "Memo1\n" + loaded + "\nzażółć\n");
    EXPECT_FALSE(form->widget()->isVisible());
}

TEST_F(Window, AnUnwritableLogTargetIsReportedAndTheWindowStays)
{
    const std::string target = path("no such folder/log.txt");
    ModalScript script;
    script.chooseFile(target).acceptMessage();
    press(form->Zamknij, script);
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_NE(script.messages[0].find(target), std::string::npos) << script.messages[0];
    EXPECT_TRUE(form->widget()->isVisible());
    EXPECT_EQ(logLines(), std::vector<std::string>{"Memo1"});
}
