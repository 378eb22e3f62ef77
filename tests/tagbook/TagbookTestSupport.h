// Listeners and blocks that tagbook tests share.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tagbook/DataBlock.h"

namespace tagbook_test {
// Records every notification it is sent; a hook may act on each one.
class CRecordingListener : public CTreeObject {
public:
    struct Seen {
        UINT id;
        UINT code;
        std::string text;
        CDataBlock* block;
        CDataBlock* child;
    };
    BOOL OnCmdMsg(UINT id, int code, void* extra, void* /*info*/) override {
        if ((static_cast<unsigned>(code) >> 16) != WM_NOTIFY || extra == nullptr) {
            commands.push_back(id);
            return handleCommands ? TRUE : FALSE;
        }
        auto* notify = static_cast<AFX_NOTIFY*>(extra);
        auto* record = static_cast<NM_TAGBOOK*>(notify->pNMHDR);
        seen.push_back(
            {id, static_cast<UINT>(code) & 0xFFFF, record->text, record->pBlock, record->pChild});
        if (hook) {
            hook(*record, *notify->pResult);
        }
        return TRUE;
    }
    int Count(UINT code) const {
        int n = 0;
        for (const Seen& s : seen) {
            n += s.code == code ? 1 : 0;
        }
        return n;
    }
    std::vector<Seen> seen;
    std::vector<UINT> commands;
    bool handleCommands = false;
    std::function<void(NM_TAGBOOK&, LRESULT&)> hook;
};
}  // namespace tagbook_test
