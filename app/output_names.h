// Names for the files written per input file: distinct for distinct inputs
// even where their file names are the same.
#pragma once

#include <string>
#include <vector>

// A stem for each input path, in the same order, all different from each
// other.  An input's stem is its file name without the extension; where
// several inputs share it, the fewest folders above them that tell them apart
// go in front, joined by '_' ("d1_x", "d2_x"); paths that name the same file
// the same way get "-2", "-3", ... in the order given.  A stem that ends in
// '#' and digits, as a page of a stack is named (stem#2), takes a '_' after
// them ("stack#1_"), so that with page suffixes too every name stays distinct.
std::vector<std::string> distinctStems(const std::vector<std::string>& paths);
