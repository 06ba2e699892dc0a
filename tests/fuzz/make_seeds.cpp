// Writes the generated corpus of bitmaps and of the other picture formats
// into a folder, to seed the fuzzers.
#include "bmp_corpus.h"
#include "picture_corpus.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_seeds FOLDER\n";
        return 2;
    }
    const std::string folder = argv[1];
    int count = 0;
    for (const corpus::Layout& s : corpus::valid()) {
        std::ofstream(folder + "/" + s.name + ".bmp", std::ios::binary) << corpus::write(s);
        ++count;
    }
    for (const corpus::Broken& b : corpus::malformed()) {
        std::ofstream(folder + "/broken_" + b.name + ".bmp", std::ios::binary) << b.bytes;
        ++count;
    }
    for (const auto& [name, bytes] : pictures::seeds()) {
        std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
        ++count;
    }
    std::cout << count << " seed files in " << folder << "\n";
    return 0;
}
