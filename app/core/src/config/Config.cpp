#include "app/Config.h"

#include <libxml/parser.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <optional>

#include "platform/File.h"

namespace {
constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

// Parse and XPath errors of a bad file or key reach the caller as false results; libxml2
// would print them to standard error as well.
void IgnoreXmlError(void* /*context*/, xmlError* /*error*/) {}

// Text the document can carry: valid UTF-8 without the control characters XML 1.0 forbids.
bool IsXmlText(const std::string& text) {
    if (xmlCheckUTF8(reinterpret_cast<const xmlChar*>(text.c_str())) == 0 ||
        text.find('\0') != std::string::npos) {
        return false;
    }
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r') {
            return false;
        }
    }
    return true;
}

// Evaluates the key with the document element as context node; the first node of the
// result in document order, or null.
xmlNodePtr SelectSingleNode(xmlDocPtr doc, const std::string& key) {
    xmlNodePtr root = doc != nullptr ? xmlDocGetRootElement(doc) : nullptr;
    if (root == nullptr) {
        return nullptr;
    }
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
    if (context == nullptr) {
        return nullptr;
    }
    context->node = root;
    context->error = IgnoreXmlError;
    xmlNodePtr node = nullptr;
    if (xmlXPathObjectPtr result =
            xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(key.c_str()), context)) {
        if (result->type == XPATH_NODESET && !xmlXPathNodeSetIsEmpty(result->nodesetval)) {
            xmlXPathNodeSetSort(result->nodesetval);
            node = xmlXPathNodeSetItem(result->nodesetval, 0);
        }
        xmlXPathFreeObject(result);
    }
    xmlXPathFreeContext(context);
    return node;
}

// The parser's own words for why the text is no document ("line 3: Opening and ending tag
// mismatch: a and b"), without its trailing line feed.
std::string ParserReason(xmlParserCtxtPtr parser) {
    const xmlError* error = parser != nullptr ? xmlCtxtGetLastError(parser) : nullptr;
    if (error == nullptr || error->message == nullptr) {
        return "not a well-formed XML document";
    }
    std::string message = error->message;
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    return error->line > 0 ? "line " + std::to_string(error->line) + ": " + message : message;
}

// The document in the text; null unless it is one well-formed document with a root, with
// the reason in *reason. No network and no external entities: a configuration file reads
// only itself.
xmlDocPtr ParseDocument(const std::string& text, const char* url, std::string* reason = nullptr) {
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlParserCtxtPtr parser = xmlNewParserCtxt();
    if (parser == nullptr || text.size() > static_cast<std::size_t>(INT_MAX)) {
        xmlFreeParserCtxt(parser);
        if (reason != nullptr) {
            *reason = "too large to parse";
        }
        return nullptr;
    }
    xmlDocPtr doc = xmlCtxtReadMemory(parser, text.data(), static_cast<int>(text.size()), url,
                                      nullptr, options);
    const bool wellFormed = parser->wellFormed != 0;
    if (doc == nullptr || !wellFormed) {
        if (reason != nullptr) {
            *reason = ParserReason(parser);
        }
    } else if (xmlDocGetRootElement(doc) == nullptr && reason != nullptr) {
        *reason = "no document element";
    }
    xmlFreeParserCtxt(parser);
    if (doc != nullptr && (!wellFormed || xmlDocGetRootElement(doc) == nullptr)) {
        xmlFreeDoc(doc);
        doc = nullptr;
    }
    return doc;
}

// Whether the file holds a document Load can read.
bool ReadsBack(const std::string& path) {
    const std::optional<std::string> bytes = platform::ReadRegularFile(path, kMaxFileSize);
    if (!bytes) {
        return false;
    }
    xmlDocPtr doc = ParseDocument(*bytes, path.c_str());
    xmlFreeDoc(doc);
    return doc != nullptr;
}
}  // namespace

void CConfig::DocDeleter::operator()(_xmlDoc* doc) const {
    xmlFreeDoc(doc);
}

CConfig::CConfig() {
    xmlInitParser();  // once per process; safe to repeat
    m_log.SetModuleName("Tavimo");
    m_log.SetObjectName("CConfig");
}

CConfig::~CConfig() = default;

bool CConfig::Load(const BSTR& fileName) {
    if (fileName.Length() != 0) {
        m_fileName = fileName;
    }
    m_doc.reset();
    m_lastError.clear();
    // Only a regular file of sensible size: a path naming a device, a pipe or a folder
    // would block or never end.
    const std::optional<std::string> bytes =
        platform::ReadRegularFile(m_fileName.str(), kMaxFileSize, &m_lastError);
    if (!bytes || bytes->empty()) {
        if (bytes) {
            m_lastError = "the file is empty";
        }
        m_log.Trace("Load", "unable to read the configuration file %s: %s", m_fileName.c_str(),
                    m_lastError.c_str());
        return false;
    }
    m_doc.reset(ParseDocument(*bytes, m_fileName.c_str(), &m_lastError));
    if (!m_doc) {
        m_log.Trace("Load", "unable to load the configuration file %s: %s", m_fileName.c_str(),
                    m_lastError.c_str());
        return false;
    }
    return true;
}

bool CConfig::GetValue(const BSTR& key, BSTR& value) {
    if (key.Length() == 0) {
        return false;
    }
    xmlNodePtr node = SelectSingleNode(m_doc.get(), key.str());
    if (node == nullptr) {
        m_log.Trace("GetValue", "CConfig::GetValue() was unable to find XML node: %s", key.c_str());
        return false;
    }
    xmlChar* text = xmlNodeGetContent(node);
    value = CComBSTR(std::string(text != nullptr ? reinterpret_cast<const char*>(text) : ""));
    xmlFree(text);
    return true;
}

bool CConfig::SetValue(const BSTR& key, const BSTR& value) {
    if (key.Length() == 0) {
        return false;
    }
    xmlNodePtr node = SelectSingleNode(m_doc.get(), key.str());
    if (node == nullptr) {
        m_log.Trace("SetValue", "CConfig::SetValue() was unable to find XML node: %s", key.c_str());
        return false;
    }
    if (!IsXmlText(value.str())) {
        m_log.Trace("SetValue", "text for %s is not valid XML text", key.c_str());
        return false;
    }
    const auto* raw = reinterpret_cast<const xmlChar*>(value.c_str());
    if (node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) {
        // Element and attribute content is parsed for entity references: escape it so
        // the text reads back exactly as set.
        xmlChar* escaped = xmlEncodeSpecialChars(m_doc.get(), raw);
        xmlNodeSetContent(node, escaped);
        xmlFree(escaped);
    } else {
        xmlNodeSetContent(node, raw);
    }
    return true;
}

bool CConfig::SetOrAddValue(const BSTR& key, const BSTR& value) {
    xmlNodePtr node = m_doc ? xmlDocGetRootElement(m_doc.get()) : nullptr;
    const std::string path = key.str();
    if (node == nullptr || path.empty() || !IsXmlText(value.str())) {
        return false;
    }
    if (SelectSingleNode(m_doc.get(), path) != nullptr) {
        return SetValue(key, value);
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        const std::string name = path.substr(start, slash - start);
        const bool plainName = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
        });
        if (!plainName) {
            m_log.Trace("SetOrAddValue", "%s is not a path of element names", path.c_str());
            return false;
        }
        xmlNodePtr child = node->children;
        while (child != nullptr && (child->type != XML_ELEMENT_NODE ||
                                    name != reinterpret_cast<const char*>(child->name))) {
            child = child->next;
        }
        if (child == nullptr) {
            child =
                xmlNewChild(node, nullptr, reinterpret_cast<const xmlChar*>(name.c_str()), nullptr);
            if (child == nullptr) {
                return false;
            }
        }
        node = child;
        start = slash + 1;
    }
    return SetValue(key, value);
}

bool CConfig::Save(const BSTR& fileName) {
    const std::string name = fileName.Length() != 0 ? fileName.str() : m_fileName.str();
    if (!m_doc) {
        m_log.Trace("Save", "no configuration document to save to %s", name.c_str());
        return false;
    }
    const char* encoding =
        m_doc->encoding != nullptr ? reinterpret_cast<const char*>(m_doc->encoding) : nullptr;
    const auto writeDocument = [this, encoding](int fd) {
        xmlSaveCtxtPtr save = xmlSaveToFd(fd, encoding, 0);
        if (save == nullptr) {
            return false;
        }
        const bool saved = xmlSaveDoc(save, m_doc.get()) >= 0;
        return xmlSaveClose(save) >= 0 && saved;
    };
    // Some declared encodings (UTF-7, say) write a file the parser cannot read again:
    // such a file never replaces one that reads.
    const platform::SaveResult result =
        platform::SaveFile(name, writeDocument, {.check = ReadsBack});
    switch (result.error) {
        case platform::SaveError::None:
            return true;
        case platform::SaveError::ReadOnly:
            m_log.Trace("Save", "the configuration file %s is read-only: settings not saved",
                        result.target.c_str());
            break;
        case platform::SaveError::CheckFailed:
            m_log.Trace("Save", "%s would not read back in its encoding %s: settings not saved",
                        result.target.c_str(), encoding != nullptr ? encoding : "UTF-8");
            break;
        default:
            m_log.Trace("Save", "unable to save %s: %s", result.target.c_str(),
                        result.Describe().c_str());
            break;
    }
    return false;
}
