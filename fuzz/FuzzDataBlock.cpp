// Tagbook property declarations and paths: the first line is a declaration added to
// a block with a child, the following lines are paths set, got and looked up.
#include "FuzzSupport.h"
#include "tagbook/DataBlock.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tavimo_fuzz::PrivateHome();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<std::string> lines = tavimo_fuzz::Split(tavimo_fuzz::Text(data, size), '\n');
    CPropertyDecl decl;
    CPropertyDecl::Parse(lines[0], decl);
    CDataBlock root;
    root.SetName("Root");
    root.Initialise();
    root.AddProperty("Child[CDataBlock]", 1);
    root.AddProperty("Value[Real=1.5]", 2);
    root.AddProperty(lines[0], 3);
    for (std::size_t i = 1; i < lines.size() && i < 16; ++i) {
        const std::string& path = lines[i];
        std::string text;
        double real = 0.0;
        root.Get(path, text, 0.0);
        root.Get(path, real, 0.0);
        root.Set(path, std::string("x"), static_cast<int>(i % 2), 0.0);
        root.Set(path, 2.5, 0, 0.0);
        root.GetChildObject(path);
        root.IsProperty(path);
        root.GetProperty(path, 0.0);
    }
    std::vector<std::string> dump;
    root.DumpProperties(dump, 0.0);
    return 0;
}
