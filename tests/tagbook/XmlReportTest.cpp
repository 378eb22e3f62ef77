#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <libxml/parser.h>

#include "ProbeReport.h"
#include "TestSupport.h"
#include "tagbook/RegistryBlock.h"
#include "tagbook/XmlReportGenerator.h"

namespace {
std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The document as the generator builds it, saved in its declared encoding.
std::string SavedXml(CXmlReportGenerator& generator) {
    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    std::string error;
    EXPECT_EQ(generator.GenerateXml(doc, &error), S_OK) << error;
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc, &text, &size, "iso-8859-1", 1);
    std::string xml(reinterpret_cast<char*>(text), static_cast<std::size_t>(size));
    xmlFree(text);
    xmlFreeDoc(doc);
    return xml;
}

constexpr const char* kListXsl = R"xsl(<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:template match="/">
    <xsl:for-each select="//Cast/*"><xsl:value-of select="local-name()"/>=<xsl:value-of select="."/>;</xsl:for-each>
  </xsl:template>
</xsl:stylesheet>)xsl";

TEST(XmlReportTest, FileTypesFiltersAndStyleSheets) {
    CXmlReportGenerator generator;
    EXPECT_EQ(generator.GetServer(), nullptr);
    EXPECT_EQ(generator.GetFileDialogFilterString(), "XML Document (*.xml)|*.xml||");
    EXPECT_FALSE(generator.AddOutputFileFormat("", "Text", "x"));
    EXPECT_FALSE(generator.AddOutputFileFormat(".txt", "", "x"));
    EXPECT_FALSE(generator.AddOutputFileFormat(".txt", "Text", std::string()));
    EXPECT_FALSE(generator.AddOutputFileFormat(".txt", "Text", 0u));

    EXPECT_TRUE(generator.AddOutputFileFormat(".txt", "Plain text", "first"));
    EXPECT_EQ(generator.GetFileDialogFilterString(),
              "Plain text (*.txt)|*.txt|XML Document (*.xml)|*.xml||");
    EXPECT_TRUE(generator.AddOutputFileFormat(".txt", "Text list", "second"));
    std::string error;
    EXPECT_EQ(generator.GetXslStyleSheetText(".txt", &error), "second");
    EXPECT_EQ(error, "");

    EXPECT_TRUE(generator.AddOutputFileFormat(".html", "Web page", tagbook::IDR_XSL_REPORT_HTML));
    EXPECT_EQ(generator.GetFileDialogFilterString(),
              "Web page (*.html)|*.html|Web archive, single file (*.mht)|*.mht|"
              "Text list (*.txt)|*.txt|XML Document (*.xml)|*.xml||");
    EXPECT_NE(generator.GetXslStyleSheetText(".html", &error).find("xsl:stylesheet"),
              std::string::npos);

    EXPECT_EQ(generator.GetXslStyleSheetText(".pdf", &error), "");
    EXPECT_EQ(error, "No XSL template found for file type .pdf");
    EXPECT_TRUE(generator.AddOutputFileFormat(".csv", "Comma separated", 41999u));
    EXPECT_EQ(generator.GetXslStyleSheetText(".csv", &error), "");
    EXPECT_EQ(error, "The XSL template with resource ID 41999 could not be loaded");
    EXPECT_EQ(generator.GenerateReportText(".pdf", nullptr), "");  // no error string: no crash
}

TEST(XmlReportTest, DocumentFrameHoldsVersionAndApplication) {
    tagbook_example::CSurveyTree tree;
    tagbook_example::CProbeReport report(tree);
    EXPECT_NE(report.GetUnits(), nullptr);
    report.SetStyleSheetReference("probe.xsl");
    const std::string xml = SavedXml(report);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n"
                        "<?xml-stylesheet type=\"text/xsl\" href=\"probe.xsl\"?>\n"
                        "<ProbeReport>\n  <Version>1</Version>\n  <Application>\n"
                        "    <Name>tagbook_report_tests</Name>\n    <Version>" +
                            tagbook::GetFileVersion() + "</Version>\n  </Application>\n",
                        0),
              0u)
        << xml;
}

TEST(XmlReportTest, ProbeReportAsHtmlInTheChosenUnits) {
    tagbook_example::CSurveyTree tree;
    tree.probe->Set("Vessel", "Tern & Gull <II>");
    tree.root.Set("Units:Depth:Name", "Metres");
    tree.root.Set("Units:Latitude/Longitude:Name", "DDD MM SS.sss");
    tagbook_example::CProbeReport report(tree);
    std::string error;
    std::string html = report.GenerateReportText(".html", &error);
    ASSERT_FALSE(html.empty()) << error;
    EXPECT_NE(html.find("<title>Sound velocity cast</title>"), std::string::npos);
    EXPECT_NE(html.find("<h2>Last cast</h2>"), std::string::npos);
    EXPECT_NE(html.find("<td>Tern &amp; Gull &lt;II&gt;</td>"), std::string::npos);
    EXPECT_NE(html.find("<th>Depth</th>\n<td class=\"number\">48.60 m</td>"), std::string::npos)
        << html;
    EXPECT_NE(html.find("51°30'11.250\" N"), std::string::npos);
    EXPECT_NE(html.find("0°7'36.998\" W"), std::string::npos);
    EXPECT_NE(html.find("tagbook_report_tests version " + tagbook::GetFileVersion()),
              std::string::npos);

    // A person can open what the test wrote.
    const std::string path = tavimo_test::OutputDir() + "/probe-report.html";
    ASSERT_TRUE(report.WriteReport(path, ".html", &error)) << error;
    EXPECT_EQ(ReadFile(path), html);

    tree.root.Set("Units:Depth:Name", "International Feet");
    html = report.GenerateReportText(".html", &error);
    EXPECT_NE(html.find("159.45 ft"), std::string::npos);
    tree.root.Set("Units:Depth:Name", "Metres");
}

TEST(XmlReportTest, ElementsWithUnitsCarryValueAndLabel) {
    tagbook_example::CSurveyTree tree;
    tree.root.Set("Units:Temperature:Name", "Fahrenheit");
    tagbook_example::CProbeReport report(tree);
    const std::string xml = SavedXml(report);
    // The degree sign is one byte in the declared encoding.
    EXPECT_NE(xml.find("<Temperature value=\"52.4\" units=\"\xB0"
                       "F\">52.4 \xB0"
                       "F</Temperature>"),
              std::string::npos)
        << xml;
    tree.root.Set("Units:Temperature:Name", "Celsius");

    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    xmlNodePtr root = xmlNewDocNode(doc, nullptr, BAD_CAST "R", nullptr);
    xmlDocSetRootElement(doc, root);
    std::string error;
    EXPECT_EQ(
        CXmlReportGenerator::GenerateXmlElementWithUnits(doc, root, "Gain", 2.5, "dB", 2, &error),
        S_OK);
    EXPECT_EQ(CXmlReportGenerator::GenerateXmlElementWithUnits(doc, root, "Raw", 7.25, nullptr,
                                                               "Depth", &error),
              S_OK);
    EXPECT_EQ(CXmlReportGenerator::GenerateXmlElement(doc, root, "Ansi", "12\xB0", &error), S_OK);
    std::string again;
    CXmlReportGenerator generator;
    EXPECT_EQ(generator.GenerateXml(doc, &again), E_INVALIDARG);  // it has a root already
    EXPECT_EQ(again, "CXmlReportGenerator::GenerateXml()\nException 0x80070057");
    EXPECT_EQ(CXmlReportGenerator::GenerateXmlElement(doc, root, "bad name", "v", &error), E_FAIL);
    EXPECT_EQ(error,
              "Exception 0x80004005 in CXmlReportGenerator::GenerateXmlElement()\n"
              "Element = bad name, Value = v");
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc, &text, &size);
    const std::string dumped(reinterpret_cast<char*>(text), static_cast<std::size_t>(size));
    xmlFree(text);
    xmlFreeDoc(doc);
    EXPECT_NE(dumped.find("<Gain value=\"2.50\" units=\"dB\">2.50 dB</Gain>"), std::string::npos);
    EXPECT_NE(dumped.find("<Raw value=\"7.25\" units=\"\">7.25</Raw>"), std::string::npos);
    EXPECT_NE(dumped.find("<Ansi>12&#xB0;</Ansi>"), std::string::npos) << dumped;
}

TEST(XmlReportTest, StyleSheetsFromTextAndTheirFaults) {
    tagbook_example::CSurveyTree tree;
    tagbook_example::CProbeReport report(tree);
    EXPECT_TRUE(report.AddOutputFileFormat(".txt", "Value list", kListXsl));
    std::string error;
    const std::string list = report.GenerateReportText(".txt", &error);
    EXPECT_EQ(list.rfind("Vessel=MV Tern;Latitude=", 0), 0u) << list << error;

    EXPECT_TRUE(report.AddOutputFileFormat(".bad", "Broken", "<xsl:stylesheet version=\"1.0\""));
    EXPECT_EQ(report.GenerateReportText(".bad", &error), "");
    EXPECT_EQ(error.rfind("CXmlReportGenerator::GenerateReportText()\n", 0), 0u) << error;
    EXPECT_GT(error.size(), std::string("CXmlReportGenerator::GenerateReportText()\n").size());

    EXPECT_TRUE(report.AddOutputFileFormat(
        ".odd", "Not XSLT",
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"/\"><xsl:value-of select=\"((\"/></xsl:template>"
        "</xsl:stylesheet>"));
    error.clear();
    EXPECT_EQ(report.GenerateReportText(".odd", &error), "");
    EXPECT_EQ(error.rfind("CXmlReportGenerator::GenerateReportText()\n", 0), 0u) << error;
    EXPECT_NE(error.find("could not compile"), std::string::npos) << error;

    // A report may not write files of its own.
    const std::string victim = tavimo_test::TempRoot() + "/written-by-xsl.txt";
    EXPECT_TRUE(report.AddOutputFileFormat(
        ".out", "Writes",
        "<xsl:stylesheet version=\"1.1\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"/\"><xsl:document href=\"" +
            victim + "\" method=\"text\">x</xsl:document>done</xsl:template></xsl:stylesheet>"));
    error.clear();
    EXPECT_EQ(report.GenerateReportText(".out", &error), "");
    EXPECT_NE(error.find("refused"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(victim));
}

TEST(XmlReportTest, FilesInFoldersThatDoNotExistAreReported) {
    tagbook_example::CSurveyTree tree;
    tagbook_example::CProbeReport report(tree);
    const std::string missing = tavimo_test::TempRoot() + "/no/such/folder/report.html";
    std::string error;
    EXPECT_FALSE(report.WriteReport(missing, ".html", &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(report.WriteXml(tavimo_test::TempRoot() + "/no/such/folder/report.xml", &error));
    EXPECT_EQ(error.rfind("Failed to save XML stream - ", 0), 0u) << error;
    EXPECT_FALSE(std::filesystem::exists(tavimo_test::TempRoot() + "/no"));

    const std::string path = tavimo_test::TempRoot() + "/report.xml";
    ASSERT_TRUE(report.WriteXml(path, &error)) << error;
    xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET);
    ASSERT_NE(doc, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(xmlDocGetRootElement(doc)->name), "ProbeReport");
    EXPECT_STREQ(reinterpret_cast<const char*>(doc->encoding), "iso-8859-1");
    xmlFreeDoc(doc);

    // No report text, no file: an existing report is left as it was.
    ASSERT_TRUE(report.WriteReport(tavimo_test::TempRoot() + "/kept.html", ".html", &error));
    const std::string before = ReadFile(tavimo_test::TempRoot() + "/kept.html");
    EXPECT_FALSE(report.WriteReport(tavimo_test::TempRoot() + "/kept.html", ".pdf", &error));
    EXPECT_EQ(ReadFile(tavimo_test::TempRoot() + "/kept.html"), before);
}
}  // namespace
