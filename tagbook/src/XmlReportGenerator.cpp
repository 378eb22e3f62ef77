#include "tagbook/XmlReportGenerator.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include <libxml/parser.h>
#include <libxml/xmlsave.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include "SettingsResources.h"
#include "platform/File.h"
#include "platform/Resources.h"
#include "tagbook/DataBlock.h"
#include "tagbook/RegistryBlock.h"
#include "tagbook/UnitBlock.h"
#include "utilon/Numbers.h"

namespace {
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
}

std::string ExceptionText(const char* where, HRESULT status) {
    return Format("CXmlReportGenerator::%s()\nException 0x%08x", where,
                  static_cast<unsigned>(status));
}

// libxslt reports what it cannot compile through one process-wide function: each thread
// collects its own messages.
thread_local std::string t_xsltMessages;
void CollectXsltMessage(void* /*context*/, const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (t_xsltMessages.size() < 4096) {
        t_xsltMessages += buffer;
    }
}
void InstallXsltErrorCollector() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xsltSetGenericErrorFunc(nullptr, CollectXsltMessage);
    });
}

// libxml2's own messages (XPath, input and output) go to this thread's collector while
// a report is made, instead of to standard error.
class CCollectLibxmlMessages {
public:
    CCollectLibxmlMessages() : m_function(xmlGenericError), m_context(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(nullptr, CollectXsltMessage);
    }
    ~CCollectLibxmlMessages() { xmlSetGenericErrorFunc(m_context, m_function); }
    CCollectLibxmlMessages(const CCollectLibxmlMessages&) = delete;
    CCollectLibxmlMessages& operator=(const CCollectLibxmlMessages&) = delete;

private:
    xmlGenericErrorFunc m_function;
    void* m_context;
};

// Text for the document: ours is UTF-8, but a value stored by older software may hold
// 8-bit ANSI bytes, which would make the document unsavable; those are read as Latin-1.
std::string DocumentText(const std::string& text) {
    if (xmlCheckUTF8(BAD_CAST text.c_str()) != 0) {
        return text;
    }
    std::string utf8;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

std::string TrimLines(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

struct DocDeleter {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocDeleter>;
struct StyleDeleter {
    void operator()(xsltStylesheet* style) const { xsltFreeStylesheet(style); }
};
struct ContextDeleter {
    void operator()(xsltTransformContext* ctxt) const { xsltFreeTransformContext(ctxt); }
};
struct PrefsDeleter {
    void operator()(xsltSecurityPrefs* prefs) const { xsltFreeSecurityPrefs(prefs); }
};
struct ParserDeleter {
    void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};

// A new, empty report document.
DocPtr NewDocument() {
    return DocPtr(xmlNewDoc(BAD_CAST "1.0"));
}
}  // namespace

CXmlReportGenerator::CXmlReportGenerator(CDataBlock* server) {
    tagbook::RegisterSettingsResources();
    if (server != nullptr) {
        SetServer(server);
    }
}

bool CXmlReportGenerator::SetServer(CDataBlock* server) {
    m_pServer = server;
    m_pUnits = nullptr;
    if (server == nullptr) {
        return false;
    }
    std::string rest;
    CDataBlock* units = server->Lookup(":Units", &rest);
    if (units != nullptr && rest.empty()) {
        m_pUnits = dynamic_cast<CUnitsBlock*>(units);
    }
    return true;
}

bool CXmlReportGenerator::AddOutputFileFormat(const std::string& ext,
                                              const std::string& description, UINT xslResourceID) {
    if (ext.empty() || description.empty() || xslResourceID == 0) {
        return false;
    }
    m_mapFileTypes[ext] = FileType{ext, description, xslResourceID, {}};
    return true;
}

bool CXmlReportGenerator::AddOutputFileFormat(const std::string& ext,
                                              const std::string& description,
                                              const std::string& xsl) {
    if (ext.empty() || description.empty() || xsl.empty()) {
        return false;
    }
    m_mapFileTypes[ext] = FileType{ext, description, 0, xsl};
    return true;
}

std::string CXmlReportGenerator::GetFileDialogFilterString() const {
    const auto entry = [](const std::string& description, const std::string& ext) {
        return Format("%s (*%s)|*%s|", description.c_str(), ext.c_str(), ext.c_str());
    };
    std::string filter;
    const auto html = m_mapFileTypes.find(".html");
    if (html != m_mapFileTypes.end()) {
        filter += entry(html->second.description, html->second.ext);
        filter += entry("Web archive, single file", ".mht");
    }
    for (const auto& [ext, type] : m_mapFileTypes) {
        if (ext != ".html") {
            filter += entry(type.description, type.ext);
        }
    }
    return filter + entry("XML Document", ".xml") + "|";
}

std::string CXmlReportGenerator::GetXslStyleSheetText(const std::string& fileType,
                                                      std::string* error) const {
    const auto it = m_mapFileTypes.find(fileType);
    if (it == m_mapFileTypes.end()) {
        SetError(error, Format("No XSL template found for file type %s", fileType.c_str()));
        return {};
    }
    const FileType& type = it->second;
    if (!type.xsl.empty()) {
        return type.xsl;
    }
    if (type.xslResourceID != 0) {
        std::string text = LoadXsl(type.xslResourceID);
        if (text.empty()) {
            SetError(error, Format("The XSL template with resource ID %u could not be loaded",
                                   type.xslResourceID));
        }
        return text;
    }
    SetError(error, Format("No XSL template specified for file type %s", fileType.c_str()));
    return {};
}

std::string CXmlReportGenerator::LoadXsl(UINT id) {
    tagbook::RegisterSettingsResources();
    return platform::FindResource(kXslResourceType, id).value_or(std::string());
}

HRESULT CXmlReportGenerator::GenerateXml(xmlDocPtr doc, std::string* error) {
    if (doc == nullptr) {
        SetError(error, ExceptionText("GenerateXml", E_POINTER));
        return E_POINTER;
    }
    if (xmlDocGetRootElement(doc) != nullptr) {
        // A second root would make the document malformed.
        SetError(error, ExceptionText("GenerateXml", E_INVALIDARG));
        return E_INVALIDARG;
    }
    try {
        // The declaration: libxml2 writes it from the document's version and encoding.
        xmlFree(const_cast<xmlChar*>(doc->encoding));
        doc->encoding = xmlStrdup(BAD_CAST "iso-8859-1");
        if (!m_sStyleSheetReference.empty()) {
            const std::string data =
                Format("type=\"text/xsl\" href=\"%s\"", m_sStyleSheetReference.c_str());
            xmlNodePtr pi = xmlNewDocPI(doc, BAD_CAST "xml-stylesheet", BAD_CAST data.c_str());
            if (pi == nullptr || xmlAddChild(reinterpret_cast<xmlNodePtr>(doc), pi) == nullptr) {
                xmlFreeNode(pi);
                SetError(error, ExceptionText("GenerateXml", E_OUTOFMEMORY));
                return E_OUTOFMEMORY;
            }
        }
        xmlNodePtr root =
            xmlNewDocNode(doc, nullptr, BAD_CAST GetRootElementName().c_str(), nullptr);
        if (root == nullptr) {
            SetError(error, ExceptionText("GenerateXml", E_OUTOFMEMORY));
            return E_OUTOFMEMORY;
        }
        if (xmlAddChild(reinterpret_cast<xmlNodePtr>(doc), root) == nullptr) {
            xmlFreeNode(root);
            SetError(error, ExceptionText("GenerateXml", E_FAIL));
            return E_FAIL;
        }
        const HRESULT status = OnGenerateXml(doc, root, error);
        if (FAILED(status)) {
            return status;
        }
        PostGenerateXml(doc, root);
        return S_OK;
    } catch (const std::bad_alloc&) {
        SetError(error, ExceptionText("GenerateXml", E_OUTOFMEMORY));
        return E_OUTOFMEMORY;
    } catch (...) {
        SetError(error, ExceptionText("GenerateXml", E_UNEXPECTED));
        return E_UNEXPECTED;
    }
}

HRESULT CXmlReportGenerator::OnGenerateXml(xmlDocPtr doc, xmlNodePtr root, std::string* error) {
    try {
        HRESULT status = GenerateVersionElement(doc, root, error);
        if (SUCCEEDED(status)) {
            status = GenerateApplicationElement(doc, root, error);
        }
        return status;
    } catch (...) {
        SetError(error, ExceptionText("OnGenerateXml", E_UNEXPECTED));
        return E_UNEXPECTED;
    }
}

HRESULT CXmlReportGenerator::GenerateVersionElement(xmlDocPtr doc, xmlNodePtr parent,
                                                    std::string* error) {
    try {
        return GenerateXmlElement(doc, parent, "Version", std::to_string(m_nReportVersion), error);
    } catch (...) {
        SetError(error, ExceptionText("GenerateVersionElement", E_UNEXPECTED));
        return E_UNEXPECTED;
    }
}

HRESULT CXmlReportGenerator::GenerateApplicationElement(xmlDocPtr doc, xmlNodePtr parent,
                                                        std::string* error) {
    try {
        xmlNodePtr application = parent != nullptr
                                     ? xmlNewChild(parent, nullptr, BAD_CAST "Application", nullptr)
                                     : nullptr;
        if (application == nullptr) {
            SetError(error, ExceptionText("GenerateApplicationElement", E_FAIL));
            return E_FAIL;
        }
        // The running program's name, as the process was started.
        HRESULT status =
            GenerateXmlElement(doc, application, "Name", program_invocation_short_name, error);
        if (SUCCEEDED(status)) {
            status =
                GenerateXmlElement(doc, application, "Version", tagbook::GetFileVersion(), error);
        }
        return status;
    } catch (...) {
        SetError(error, ExceptionText("GenerateApplicationElement", E_UNEXPECTED));
        return E_UNEXPECTED;
    }
}

HRESULT CXmlReportGenerator::GenerateXmlElement(xmlDocPtr doc, xmlNodePtr parent,
                                                const std::string& name, const std::string& text,
                                                std::string* error) {
    xmlNodePtr node = nullptr;
    if (doc != nullptr && parent != nullptr && !name.empty() &&
        xmlValidateNameValue(BAD_CAST name.c_str()) != 0) {
        node = xmlNewChild(parent, nullptr, BAD_CAST name.c_str(), nullptr);
    }
    if (node == nullptr) {
        SetError(error, Format("Exception 0x%08x in CXmlReportGenerator::GenerateXmlElement()\n"
                               "Element = %s, Value = %s",
                               static_cast<unsigned>(E_FAIL), name.c_str(), text.c_str()));
        return E_FAIL;
    }
    // Added as text, so any value is escaped and cannot break the document.
    xmlNodeAddContent(node, BAD_CAST DocumentText(text).c_str());
    return S_OK;
}

HRESULT CXmlReportGenerator::GenerateXmlElementWithUnits(xmlDocPtr doc, xmlNodePtr parent,
                                                         const std::string& name, double value,
                                                         const std::string& label, int decPlaces,
                                                         std::string* error) {
    const std::string number = FloatToStr(value, decPlaces);
    const std::string text = label.empty() ? number : number + " " + label;
    const HRESULT status = GenerateXmlElement(doc, parent, name, text, error);
    if (FAILED(status)) {
        SetError(error, Format("Exception 0x%08x in CXmlReportGenerator::"
                               "GenerateXmlElementWithUnits()\nElement = %s, Value = %s",
                               static_cast<unsigned>(status), name.c_str(), text.c_str()));
        return status;
    }
    xmlNodePtr node = xmlGetLastChild(parent);
    xmlNewProp(node, BAD_CAST "value", BAD_CAST number.c_str());
    xmlNewProp(node, BAD_CAST "units", BAD_CAST DocumentText(label).c_str());
    return S_OK;
}

HRESULT CXmlReportGenerator::GenerateXmlElementWithUnits(xmlDocPtr doc, xmlNodePtr parent,
                                                         const std::string& name, double value,
                                                         CUnitsBlock* units,
                                                         const std::string& category,
                                                         std::string* error) {
    long flag = 0;
    CUnitBlock* unit = units != nullptr ? units->FindUnitBlock(category, flag) : nullptr;
    if (unit == nullptr) {
        // No unit to show it in: the internal value as it is.
        return GenerateXmlElementWithUnits(doc, parent, name, value, std::string(), -1, error);
    }
    std::string text;
    if (unit->ConvertForDisplay(value, text, flag, -1, std::string()) == 0) {
        SetError(error, Format("Exception 0x%08x in CXmlReportGenerator::"
                               "GenerateXmlElementWithUnits()\nElement = %s, Value = %s",
                               static_cast<unsigned>(E_FAIL), name.c_str(),
                               FloatToStr(value, -1).c_str()));
        return E_FAIL;
    }
    const HRESULT status = GenerateXmlElement(doc, parent, name, text, error);
    if (FAILED(status)) {
        return status;
    }
    xmlNodePtr node = xmlGetLastChild(parent);
    xmlNewProp(
        node, BAD_CAST "value",
        BAD_CAST FloatToStr(unit->ConvertForDisplay(value, flag), unit->GetDecPlaces()).c_str());
    xmlNewProp(node, BAD_CAST "units", BAD_CAST DocumentText(unit->GetLabel()).c_str());
    return S_OK;
}

HRESULT CXmlReportGenerator::GenerateXmlElementWithUnits(xmlDocPtr doc, xmlNodePtr parent,
                                                         const std::string& name, double value,
                                                         const std::string& category,
                                                         std::string* error) {
    return GenerateXmlElementWithUnits(doc, parent, name, value, m_pUnits, category, error);
}

std::string CXmlReportGenerator::GenerateReportText(const std::string& fileType,
                                                    std::string* error) {
    try {
        DocPtr xml = NewDocument();
        if (!xml) {
            SetError(error, "Failed to create XML DOM");
            return {};
        }
        DocPtr xsl;
        if (FAILED(GenerateXml(xml.get(), error))) {
            return {};
        }
        const std::string sheet = GetXslStyleSheetText(fileType, error);
        if (sheet.empty()) {
            return {};
        }
        std::unique_ptr<xmlParserCtxt, ParserDeleter> parser(xmlNewParserCtxt());
        if (!parser) {
            SetError(error, "Failed to create XSLT DOM");
            return {};
        }
        xsl.reset(xmlCtxtReadMemory(parser.get(), sheet.data(), static_cast<int>(sheet.size()),
                                    "report.xsl", nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
        if (!xsl) {
            const xmlError* failure = xmlCtxtGetLastError(parser.get());
            SetError(error, "CXmlReportGenerator::GenerateReportText()\n" +
                                TrimLines(failure != nullptr && failure->message != nullptr
                                              ? failure->message
                                              : "The XSL template is not well-formed XML"));
            return {};
        }
        return GenerateReportText(xml.get(), xsl.get(), error);
    } catch (const std::bad_alloc&) {
        SetError(error, ExceptionText("GenerateReportText", E_OUTOFMEMORY));
        return {};
    }
}

std::string CXmlReportGenerator::GenerateReportText(xmlDocPtr xml, xmlDocPtr xsl,
                                                    std::string* error) {
    const auto fail = [error](const std::string& reason) {
        SetError(error, "CXmlReportGenerator::GenerateReportText()\n" + TrimLines(reason));
        return std::string();
    };
    if (xml == nullptr || xsl == nullptr) {
        SetError(error, ExceptionText("GenerateReportText", E_POINTER));
        return {};
    }
    InstallXsltErrorCollector();
    CCollectLibxmlMessages collect;
    t_xsltMessages.clear();
    // The style sheet takes the document it is compiled from: it gets a copy.
    xmlDocPtr sheetDoc = xmlCopyDoc(xsl, 1);
    if (sheetDoc == nullptr) {
        return fail("Failed to create XSLT DOM");
    }
    std::unique_ptr<xsltStylesheet, StyleDeleter> style(xsltParseStylesheetDoc(sheetDoc));
    if (!style) {
        xmlFreeDoc(sheetDoc);
        return fail(t_xsltMessages.empty() ? "The XSL template is not a valid style sheet"
                                           : t_xsltMessages);
    }
    // A report only reads the document it is given: no files written, no network.
    std::unique_ptr<xsltSecurityPrefs, PrefsDeleter> prefs(xsltNewSecurityPrefs());
    std::unique_ptr<xsltTransformContext, ContextDeleter> context(
        xsltNewTransformContext(style.get(), xml));
    if (!prefs || !context) {
        return fail("Failed to create the transformation");
    }
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
    xsltSetCtxtSecurityPrefs(prefs.get(), context.get());
    xsltSetTransformErrorFunc(context.get(), nullptr, CollectXsltMessage);
    DocPtr result(
        xsltApplyStylesheetUser(style.get(), xml, nullptr, nullptr, nullptr, context.get()));
    if (!result || context->state == XSLT_STATE_ERROR || context->state == XSLT_STATE_STOPPED) {
        return fail(t_xsltMessages.empty() ? "The transformation failed" : t_xsltMessages);
    }
    xmlChar* text = nullptr;
    int length = 0;
    if (xsltSaveResultToString(&text, &length, result.get(), style.get()) != 0) {
        return fail("The transformation's result could not be written");
    }
    std::string report = text != nullptr ? std::string(reinterpret_cast<char*>(text),
                                                       static_cast<std::size_t>(length))
                                         : std::string();
    xmlFree(text);
    return report;
}

bool CXmlReportGenerator::WriteReport(const std::string& path, const std::string& fileType,
                                      std::string* error) {
    const std::string text = GenerateReportText(fileType, error);
    if (text.empty()) {
        return false;
    }
    const platform::SaveResult saved = platform::SaveFile(path, text);
    if (!saved) {
        SetError(error, path + ": " + saved.Describe());
        return false;
    }
    return true;
}

bool CXmlReportGenerator::WriteXml(const std::string& path, std::string* error) {
    DocPtr xml = NewDocument();
    std::string reason;
    if (!xml || FAILED(GenerateXml(xml.get(), &reason))) {
        SetError(error, "Failed to generate XML stream - " + reason);
        return false;
    }
    CCollectLibxmlMessages collect;
    xmlChar* text = nullptr;
    int length = 0;
    xmlDocDumpFormatMemoryEnc(xml.get(), &text, &length, "iso-8859-1", 1);
    if (text == nullptr) {
        SetError(error, "Failed to save XML stream - " + path + ": " + std::strerror(EIO));
        return false;
    }
    const std::string bytes(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
    xmlFree(text);
    const platform::SaveResult saved = platform::SaveFile(path, bytes);
    if (!saved) {
        SetError(error, "Failed to save XML stream - " + path + ": " + saved.Describe());
        return false;
    }
    return true;
}
