// tagbook_report [report.html]: writes the example probe report as a web page (by
// default tagbook-report.html in the current folder) in the units chosen in the settings.
#include <cstdio>
#include <string>

#include "ProbeReport.h"
#include "tagbook/RegistryBlock.h"

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: %s [report.html]\n", argv[0]);
        return 2;
    }
    const std::string path = argc == 2 ? argv[1] : "tagbook-report.html";
    CRegistryBlock::SetApplicationKey("Software\\Tavimo\\Tagbook Report");
    tagbook_example::CSurveyTree tree;
    tagbook_example::CProbeReport report(tree);
    std::string error;
    if (!report.WriteReport(path, ".html", &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", path.c_str());
    return 0;
}
