#include "toolkit/dialogs.h"

#include "toolkit/controls.h"

#include <QFile>
#include <QFileDialog>

#include <dirent.h>
#include <sys/stat.h>

namespace {

// "Bitmapy|*.BMP|Obrazy|*.png;*.tif" in Qt's form, one "Bitmapy (*.BMP)"
// per description and patterns.
QStringList qtFilters(const std::string& filter)
{
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i] + " (" + parts[i + 1].split(';').join(' ') + ")";
    if (parts.size() % 2) filters << parts.back();
    return filters;
}

// The name a folder entry has on disk, for a name as Qt gives it: Qt reads
// names as UTF-8 and turns other bytes into U+FFFD, so such a name is looked
// up among the folder's entries.  Unchanged when none or several match.
std::string entryOnDisk(const std::string& folder, const QString& shown)
{
    std::string match = QFile::encodeName(shown).toStdString();
    if (!shown.contains(QChar::ReplacementCharacter)) return match;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return match;
    int found = 0;
    std::string candidate;
    while (const dirent* entry = ::readdir(dir)) {
        if (QFile::decodeName(entry->d_name) != shown) continue;
        candidate = entry->d_name;
        ++found;
    }
    ::closedir(dir);
    return found == 1 ? candidate : match;
}

// A chosen path as the system spells it, one component at a time.
std::string pathOnDisk(const QString& chosen)
{
    std::string path;
    const QStringList parts = chosen.split('/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0) path += '/';
        path += entryOnDisk(path, parts[i]);
    }
    return path;
}

// Qt's dialog refuses a name it cannot spell back (a file not found);
// this one accepts it when the name leads to a file on disk.
class FileDialog : public QFileDialog {
public:
    explicit FileDialog(QWidget* parent) : QFileDialog(parent) {}
    std::string chosen;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (fileMode() == QFileDialog::ExistingFile && !files.isEmpty() &&
            files.first().contains(QChar::ReplacementCharacter)) {
            const std::string onDisk = pathOnDisk(files.first());
            struct stat info {};
            if (::stat(onDisk.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
                chosen = onDisk;
                QDialog::accept();
                return;
            }
        }
        QFileDialog::accept();
    }
};

bool run(FileDialog& dialog, std::string& fileName)
{
    // Qt's own dialog: the same on every desktop, and its name filters
    // ignore letter case.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    fileName = dialog.chosen.empty() ? pathOnDisk(dialog.selectedFiles().first()) : dialog.chosen;
    return true;
}

}  // namespace

TOpenDialog::TOpenDialog(TForm& owner_, const std::string& name_, const std::string& filter_, int filterIndex_)
    : owner(owner_), name(name_), filter(filter_), filterIndex(filterIndex_)
{
}

bool TOpenDialog::Execute()
{
    FileDialog dialog(owner.widget());
    dialog.setObjectName(QString::fromStdString(name));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QStringList filters = qtFilters(filter);
    dialog.setNameFilters(filters);
    if (filterIndex >= 1 && filterIndex <= filters.size()) dialog.selectNameFilter(filters[filterIndex - 1]);
    return run(dialog, fileName);
}

TSaveDialog::TSaveDialog(TForm& owner_, const std::string& name_) : owner(owner_), name(name_) {}

bool TSaveDialog::Execute()
{
    FileDialog dialog(owner.widget());
    dialog.setObjectName(QString::fromStdString(name));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    return run(dialog, fileName);
}
