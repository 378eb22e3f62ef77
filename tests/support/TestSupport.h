// What every test process shares: a private home under a temporary folder.
#pragma once

#include <string>

namespace tavimo_test {
extern std::string g_root;
// The private temporary home of this test process.
std::string TempRoot();
// A folder for artefacts a person looks at (screenshots, reports).
std::string OutputDir();
}  // namespace tavimo_test
