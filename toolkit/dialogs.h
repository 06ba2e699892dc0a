// Modal file dialogs.
#pragma once

#include <string>

class TForm;

class TOpenDialog {
public:
    // filter: "Description|patterns" pairs, e.g. "Bitmapy|*.BMP|Obrazy|*.png;*.tif",
    // the one numbered filterIndex (from 1) chosen at the start.  Patterns
    // match file names in any letter case.
    TOpenDialog(TForm& owner, const std::string& name, const std::string& filter, int filterIndex = 1);
    // Runs modally; true when the user chose a file.
    bool Execute();
    // The full path last chosen.
    std::string FileName() const { return fileName; }

private:
    TForm& owner;
    std::string name;
    std::string filter;
    int filterIndex;
    std::string fileName;
};

class TSaveDialog {
public:
    TSaveDialog(TForm& owner, const std::string& name);
    bool Execute();
    std::string FileName() const { return fileName; }

private:
    TForm& owner;
    std::string name;
    std::string fileName;
};
