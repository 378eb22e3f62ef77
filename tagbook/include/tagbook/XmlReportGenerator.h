// Reports on a data block: the block's state as an XML document and, through an XSL
// style sheet chosen by output file type, as report text such as HTML. Derived
// generators add the report's own elements in OnGenerateXml; the base writes the frame,
// the version and application elements, and the files.
#pragma once

#include <map>
#include <string>

#include <libxml/tree.h>

#include "platform/Com.h"
#include "platform/Types.h"

class CDataBlock;
class CUnitsBlock;

namespace tagbook {
// The library's HTML report style sheet (resource type "XSL").
inline constexpr UINT IDR_XSL_REPORT_HTML = 9930;
}  // namespace tagbook

class CXmlReportGenerator {
public:
    static constexpr const char* kXslResourceType = "XSL";

    explicit CXmlReportGenerator(CDataBlock* server = nullptr);
    virtual ~CXmlReportGenerator() = default;
    CXmlReportGenerator(const CXmlReportGenerator&) = delete;
    CXmlReportGenerator& operator=(const CXmlReportGenerator&) = delete;

    virtual bool Refresh() { return true; }
    // The report of that file type; empty, with the reason in error, when it fails.
    virtual std::string GenerateReportText(const std::string& fileType, std::string* error);
    virtual std::string GenerateReportText(xmlDocPtr xml, xmlDocPtr xsl, std::string* error);
    virtual bool WriteReport(const std::string& path, const std::string& fileType,
                             std::string* error);
    virtual bool WriteXml(const std::string& path, std::string* error);
    virtual std::string GetDefaultReportFileName() { return {}; }
    virtual std::string GetDefaultReportFileFolder() { return {}; }

    // Stores the server and finds its units block (":Units").
    bool SetServer(CDataBlock* server);
    CDataBlock* GetServer() const { return m_pServer; }
    CUnitsBlock* GetUnits() const { return m_pUnits; }
    void SetReportVersion(int version) { m_nReportVersion = version; }
    int GetReportVersion() const { return m_nReportVersion; }
    // An "xml-stylesheet" reference written into the XML document when not empty.
    void SetStyleSheetReference(const std::string& href) { m_sStyleSheetReference = href; }

    // False when any argument is empty or zero; a second definition of an extension
    // replaces the first.
    bool AddOutputFileFormat(const std::string& ext, const std::string& description,
                             UINT xslResourceID);
    bool AddOutputFileFormat(const std::string& ext, const std::string& description,
                             const std::string& xsl);
    // "Description (*.ext)|*.ext|" for each type, ".html" first with a single-file web
    // archive after it, then the XML document itself, and one more "|".
    std::string GetFileDialogFilterString() const;
    std::string GetXslStyleSheetText(const std::string& fileType, std::string* error) const;
    // The custom resource of type "XSL" with that ID, or empty.
    static std::string LoadXsl(UINT id);

    // Builds the whole document into doc; S_OK or the failing status.
    HRESULT GenerateXml(xmlDocPtr doc, std::string* error);

    // An element with text, appended to parent.
    static HRESULT GenerateXmlElement(xmlDocPtr doc, xmlNodePtr parent, const std::string& name,
                                      const std::string& text, std::string* error);
    // A value in internal units, shown in the category's display unit: the element's text
    // is the value with its label, attribute "value" the number and "units" the label.
    static HRESULT GenerateXmlElementWithUnits(xmlDocPtr doc, xmlNodePtr parent,
                                               const std::string& name, double value,
                                               CUnitsBlock* units, const std::string& category,
                                               std::string* error);
    // A value already in the unit with that label, with decPlaces decimals.
    static HRESULT GenerateXmlElementWithUnits(xmlDocPtr doc, xmlNodePtr parent,
                                               const std::string& name, double value,
                                               const std::string& label, int decPlaces,
                                               std::string* error);
    // Through the server's units block.
    HRESULT GenerateXmlElementWithUnits(xmlDocPtr doc, xmlNodePtr parent, const std::string& name,
                                        double value, const std::string& category,
                                        std::string* error);

protected:
    virtual HRESULT OnGenerateXml(xmlDocPtr doc, xmlNodePtr root, std::string* error);
    virtual void PostGenerateXml(xmlDocPtr doc, xmlNodePtr root) {}
    virtual HRESULT GenerateVersionElement(xmlDocPtr doc, xmlNodePtr parent, std::string* error);
    virtual HRESULT GenerateApplicationElement(xmlDocPtr doc, xmlNodePtr parent,
                                               std::string* error);
    // The document's root element.
    virtual std::string GetRootElementName() const { return "Report"; }

private:
    struct FileType {
        std::string ext;
        std::string description;
        UINT xslResourceID = 0;
        std::string xsl;
    };

    CDataBlock* m_pServer = nullptr;
    CUnitsBlock* m_pUnits = nullptr;
    int m_nReportVersion = 0;
    std::string m_sStyleSheetReference;
    std::map<std::string, FileType> m_mapFileTypes;
};
