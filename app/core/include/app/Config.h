// The XML configuration file: one setting is the text of the node that an XPath key
// selects. Keys are relative to the document element ("SensorPort/Path") or search the
// whole document ("//Geodesy/Spheroid/SemiMajorAxis"); the first node in document order
// answers. The store only reads and changes nodes that exist: it never adds any, so the
// file ships with every node the program reads or writes (data/Tavimo.xml).
#pragma once

#include <memory>
#include <string>

#include "interfaces/ErrorLog.h"
#include "platform/Com.h"

struct _xmlDoc;

class CConfig {
public:
    CConfig();
    virtual ~CConfig();
    CConfig(const CConfig&) = delete;
    CConfig& operator=(const CConfig&) = delete;

    // A non-empty name replaces the stored one ("Tavimo.xml" at first, in the current
    // folder); the stored file is then parsed. False for a missing, empty or malformed
    // file, which leaves no document, so every later look-up fails.
    bool Load(const BSTR& fileName);
    // The text of the first node the key selects. False for an empty key, no document,
    // no node, or a key that is not a node path; value is then left as it was.
    bool GetValue(const BSTR& key, BSTR& value);
    // Replaces the text of the first node the key selects (the file is not written).
    // False when no node answers, and for text that XML cannot carry (invalid UTF-8,
    // control characters), which would otherwise make the saved file unreadable.
    bool SetValue(const BSTR& key, const BSTR& value);
    // SetValue, making the node first when the key is a plain path of element names
    // ("Heave/MonitoringPoint/X") that the document lacks: each missing element goes in at
    // the end of its parent. For nodes newer than the files users may already have.
    bool SetOrAddValue(const BSTR& key, const BSTR& value);
    // Writes the document to the given file, or to the stored name when empty, in the
    // encoding its declaration names. The text goes to a temporary file beside the target
    // that is flushed to the disc, read back and renamed over it (platform::SaveFile), so
    // a crash or a full disc never leaves half a file, nor one that would not load. A
    // target without write permission, or that is no regular file, is left alone (false),
    // even for root.
    bool Save(const BSTR& fileName);

    const std::string& FileName() const { return m_fileName.str(); }
    // Why the last Load failed, in the system's or the XML parser's words; empty after a
    // successful one.
    const std::string& LastError() const { return m_lastError; }

private:
    struct DocDeleter {
        void operator()(_xmlDoc* doc) const;
    };
    std::unique_ptr<_xmlDoc, DocDeleter> m_doc;
    CComBSTR m_fileName{"Tavimo.xml"};
    std::string m_lastError;
    CErrorLog m_log;
};
