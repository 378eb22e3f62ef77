#include "app/Config.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {
constexpr off_t kMaxFileSize = 16 * 1024 * 1024;

// Parse and XPath errors of a bad file or key reach the caller as false results; libxml2
// would print them to standard error as well.
void IgnoreXmlError(void* /*context*/, xmlError* /*error*/) {}

std::string Errno() {
    return std::strerror(errno);
}

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

// The file Save replaces: a link is followed, so the link stays and its target changes.
std::filesystem::path SaveTarget(const std::string& fileName) {
    std::error_code ec;
    std::filesystem::path path(fileName);
    if (std::filesystem::is_symlink(path, ec)) {
        auto target = std::filesystem::canonical(path, ec);
        if (!ec) {
            return target;
        }
    }
    return path;
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
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    if (!(file && bytes << file.rdbuf())) {
        return false;
    }
    xmlDocPtr doc = ParseDocument(bytes.str(), path.c_str());
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
    struct stat info {};
    if (::stat(m_fileName.c_str(), &info) != 0) {
        m_lastError = Errno();
    } else if (!S_ISREG(info.st_mode)) {
        m_lastError = "not a regular file";
    } else if (info.st_size > kMaxFileSize) {
        m_lastError = "larger than 16 MiB";
    }
    if (!m_lastError.empty()) {
        m_log.Trace("Load", "unable to read the configuration file %s: %s", m_fileName.c_str(),
                    m_lastError.c_str());
        return false;
    }
    std::ifstream file(m_fileName.str(), std::ios::binary);
    std::ostringstream bytes;
    if (!(file && bytes << file.rdbuf())) {  // also false for an empty file
        m_lastError = file ? "the file is empty" : Errno();
        m_log.Trace("Load", "unable to read the configuration file %s: %s", m_fileName.c_str(),
                    m_lastError.c_str());
        return false;
    }
    m_doc.reset(ParseDocument(bytes.str(), m_fileName.c_str(), &m_lastError));
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

bool CConfig::Save(const BSTR& fileName) {
    const std::string name = fileName.Length() != 0 ? fileName.str() : m_fileName.str();
    if (!m_doc) {
        m_log.Trace("Save", "no configuration document to save to %s", name.c_str());
        return false;
    }
    const std::filesystem::path target = SaveTarget(name);
    mode_t mode = 0644;
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if ((info.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
            m_log.Trace("Save", "the configuration file %s is read-only: settings not saved",
                        target.c_str());
            return false;
        }
        mode = info.st_mode & 07777;
    }
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        m_log.Trace("Save", "unable to save %s: %s", target.c_str(), Errno().c_str());
        return false;
    }
    const char* encoding =
        m_doc->encoding != nullptr ? reinterpret_cast<const char*>(m_doc->encoding) : nullptr;
    bool ok = false;
    if (xmlSaveCtxtPtr save = xmlSaveToFd(fd, encoding, 0)) {
        ok = xmlSaveDoc(save, m_doc.get()) >= 0;
        ok = xmlSaveClose(save) >= 0 && ok;
    }
    ok = ok && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    // Some declared encodings (UTF-7, say) write a file the parser cannot read again:
    // such a file never replaces one that reads.
    if (ok && !ReadsBack(temp)) {
        m_log.Trace("Save", "%s would not read back in its encoding %s: settings not saved",
                    target.c_str(), encoding != nullptr ? encoding : "UTF-8");
        ::unlink(temp.c_str());
        return false;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0) {
        if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY); dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return true;
    }
    m_log.Trace("Save", "unable to save %s: %s", target.c_str(), Errno().c_str());
    ::unlink(temp.c_str());
    return false;
}
