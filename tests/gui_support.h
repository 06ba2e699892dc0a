// Helpers for tests that drive the real window offscreen: scripted answers
// to the modal dialogs and message boxes that the handlers open.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

// Answers modal windows in order, as they open.  Each answer gets the modal
// widget; an answer whose widget is of the wrong kind fails the test.
class ModalScript {
public:
    ModalScript()
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start();
    }

    // Puts `path` into the file dialog's name box and presses Return there.
    ModalScript& chooseFile(const std::string& path)
    {
        answers.push_back([path](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog) return false;
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!name) return false;
            name->setText(QString::fromStdString(path));  // no completer popup to get in the way
            QTest::keyClick(name, Qt::Key_Return);
            return true;
        });
        return *this;
    }

    // Runs `inspect` on the open file dialog, then cancels it.
    ModalScript& cancelFileDialog(std::function<void(QFileDialog*)> inspect = {})
    {
        answers.push_back([inspect](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog) return false;
            if (inspect) inspect(dialog);
            dialog->reject();
            return true;
        });
        return *this;
    }

    // Records a message box's text and presses its accepting button.
    ModalScript& acceptMessage()
    {
        answers.push_back([this](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box) return false;
            messages.push_back(box->text().toStdString());
            QAbstractButton* button = box->button(QMessageBox::Ok);
            if (!button) button = box->button(QMessageBox::Yes);
            if (!button) return false;
            button->click();
            return true;
        });
        return *this;
    }

    // Runs `inspect` on the open dialog named `name`, then closes it.
    ModalScript& closeDialog(const char* name, std::function<void(QDialog*)> inspect = {})
    {
        answers.push_back([name, inspect](QWidget* w) {
            auto* dialog = qobject_cast<QDialog*>(w);
            if (!dialog || dialog->objectName() != name) return false;
            if (inspect) inspect(dialog);
            dialog->reject();
            return true;
        });
        return *this;
    }

    bool finished() const { return answers.empty() && unexpected.empty(); }
    std::vector<std::string> messages;
    std::vector<std::string> unexpected;

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal->property("scriptAnswered").toBool()) return;
        modal->setProperty("scriptAnswered", true);
        if (answers.empty()) {
            // Nothing expected: note it and get it out of the way.
            unexpected.push_back(modal->metaObject()->className());
            if (auto* box = qobject_cast<QMessageBox*>(modal)) unexpected.back() += ": " + box->text().toStdString();
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
            return;
        }
        auto answer = answers.front();
        answers.pop_front();
        if (!answer(modal)) {
            unexpected.push_back(std::string("wrong kind of window: ") + modal->metaObject()->className());
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
        }
    }

    QTimer timer;
    std::deque<std::function<bool(QWidget*)>> answers;
};

// The whole content of a file, as bytes.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A grey-level 8-bit BMP written with Qt: pixel (x, y) = pixel(x, y).
inline std::string writeGreyBmp(const std::string& path, int width, int height,
                                const std::function<int(int, int)>& pixel)
{
    QImage image(width, height, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int i = 0; i < 256; ++i) table.push_back(qRgb(i, i, i));
    image.setColorTable(table);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.scanLine(y)[x] = static_cast<uchar>(pixel(x, y));
    image.save(QString::fromStdString(path), "BMP");
    return path;
}
