#include "toolkit/application.h"

#include "toolkit/controls.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>

#include <new>

namespace {

TApplication theApplication;

QWidget* dialogParent()
{
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    if (QWidget* active = QApplication::activeWindow()) return active;
    if (Application && Application->mainForm) return Application->mainForm->widget();
    return nullptr;
}

}  // namespace

TApplication* Application = &theApplication;

struct TApplication::Impl {
    std::unique_ptr<QApplication> app;
};

TApplication::~TApplication() { Terminate(); }

void TApplication::Terminate()
{
    // The window's widgets go before the application object they belong to.
    mainForm.reset();
    d.reset();
}

void TApplication::Initialize(int& argc, char** argv)
{
    if (!d) d = std::make_unique<Impl>();
    if (!QApplication::instance()) d->app = std::make_unique<QApplication>(argc, argv);
}

void TApplication::Run()
{
    if (mainForm) mainForm->Show();
    QApplication::exec();
}

void TApplication::ShowException(const std::exception& failure)
{
    std::string message = failure.what();
    if (dynamic_cast<const std::bad_alloc*>(&failure)) message = "Za mało pamięci na tę operację.";
    ShowMessage(message);
}

void TApplication::RunGuarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& failure) {
        ShowException(failure);
    } catch (...) {
        ShowException(std::runtime_error("Nieznany błąd."));
    }
}

void ShowMessage(const std::string& text)
{
    // A message shown during long work should not keep the busy cursor.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), QString::fromStdString(text),
                    QMessageBox::Ok, dialogParent());
    box.exec();
    QApplication::restoreOverrideCursor();
}

TBusyCursor::TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
TBusyCursor::~TBusyCursor() { QApplication::restoreOverrideCursor(); }
