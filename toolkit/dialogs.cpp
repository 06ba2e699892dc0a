#include "toolkit/dialogs.h"

#include "toolkit/controls.h"

#include <QFileDialog>

namespace {

// "Bitmapy|*.BMP" in Qt's form, "Bitmapy (*.BMP)".
QString qtFilter(const std::string& filter)
{
    const auto bar = filter.find('|');
    if (bar == std::string::npos) return QString::fromStdString(filter);
    return QString::fromStdString(filter.substr(0, bar) + " (" + filter.substr(bar + 1) + ")");
}

bool run(QFileDialog& dialog, std::string& fileName)
{
    // Qt's own dialog: the same on every desktop, and its name filters
    // ignore letter case.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    fileName = dialog.selectedFiles().first().toStdString();
    return true;
}

}  // namespace

TOpenDialog::TOpenDialog(TForm& owner_, const std::string& name_, const std::string& filter_)
    : owner(owner_), name(name_), filter(filter_)
{
}

bool TOpenDialog::Execute()
{
    QFileDialog dialog(owner.widget());
    dialog.setObjectName(QString::fromStdString(name));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(qtFilter(filter));
    return run(dialog, fileName);
}

TSaveDialog::TSaveDialog(TForm& owner_, const std::string& name_) : owner(owner_), name(name_) {}

bool TSaveDialog::Execute()
{
    QFileDialog dialog(owner.widget());
    dialog.setObjectName(QString::fromStdString(name));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    return run(dialog, fileName);
}
