#include "app/CJMaskEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QValidator>

namespace {
constexpr QChar kPrompt = QLatin1Char('_');
}  // namespace

// Keeps edits that bypass the keyboard handling (the context menu's paste, say) to the
// mask: a text that does not fit is refused whole.
class CMaskValidator : public QValidator {
public:
    explicit CMaskValidator(const CCJMaskEdit* edit)
        : QValidator(const_cast<CCJMaskEdit*>(edit)), m_edit(edit) {}
    State validate(QString& input, int&) const override {
        const QString& literal = m_edit->m_strLiteral;
        if (literal.isEmpty()) {
            return Acceptable;
        }
        if (input.size() != literal.size()) {
            return Invalid;
        }
        for (int i = 0; i < input.size(); ++i) {
            if (!m_edit->IsInputPosition(i)) {
                if (input[i] != literal[i]) {
                    return Invalid;
                }
                continue;
            }
            QChar ch = input[i];
            if (ch == kPrompt || ch == QLatin1Char(' ')) {
                continue;
            }
            const QChar typed = ch;
            if (!m_edit->ProcessMask(ch, i) || ch != typed) {
                return Invalid;
            }
        }
        return Acceptable;
    }

private:
    const CCJMaskEdit* m_edit;
};

CCJMaskEdit::CCJMaskEdit(QWidget* parent) : QLineEdit(parent) {
    setValidator(new CMaskValidator(this));
}

CCJMaskEdit::~CCJMaskEdit() = default;

bool CCJMaskEdit::SetEditMask(const QString& mask, const QString& literal,
                              const QString& defaultText) {
    if (mask.size() != literal.size()) {
        return false;
    }
    m_strMask = mask;
    m_strLiteral = literal;
    setText(defaultText);
    return true;
}

bool CCJMaskEdit::IsInputPosition(int pos) const {
    return pos >= 0 && pos < m_strLiteral.size() && m_strLiteral[pos] == kPrompt;
}

bool CCJMaskEdit::ProcessMask(QChar& ch, int pos) const {
    if (!IsInputPosition(pos)) {
        return false;
    }
    if (m_strMask[pos] == QLatin1Char('0')) {
        return ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
    }
    return false;
}

int CCJMaskEdit::NextInputPosition(int pos) const {
    for (int i = std::max(pos, 0); i < m_strLiteral.size(); ++i) {
        if (IsInputPosition(i)) {
            return i;
        }
    }
    return -1;
}

int CCJMaskEdit::PreviousInputPosition(int pos) const {
    for (int i = std::min(pos, static_cast<int>(m_strLiteral.size()) - 1); i >= 0; --i) {
        if (IsInputPosition(i)) {
            return i;
        }
    }
    return -1;
}

bool CCJMaskEdit::TypeChar(QChar ch) {
    int pos = cursorPosition();
    // Typing a literal where it stands just steps over it.
    if (pos < m_strLiteral.size() && !IsInputPosition(pos) && ch == m_strLiteral[pos]) {
        setCursorPosition(pos + 1);
        return true;
    }
    pos = NextInputPosition(pos);
    if (pos < 0 || !ProcessMask(ch, pos)) {
        return false;
    }
    QString current = text();
    if (current.size() != m_strLiteral.size()) {
        current = m_strLiteral;
    }
    current[pos] = ch;
    setText(current);
    const int next = NextInputPosition(pos + 1);
    setCursorPosition(next >= 0 ? next : pos + 1);
    return true;
}

void CCJMaskEdit::ClearInput(int from, int to) {
    QString current = text();
    if (current.size() != m_strLiteral.size()) {
        return;
    }
    for (int i = std::max(from, 0); i < std::min(to, static_cast<int>(current.size())); ++i) {
        if (IsInputPosition(i)) {
            current[i] = kPrompt;
        }
    }
    const int cursor = std::max(from, 0);
    setText(current);
    setCursorPosition(cursor);
}

void CCJMaskEdit::keyPressEvent(QKeyEvent* event) {
    if (m_strLiteral.isEmpty() || isReadOnly()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        const QString pasted = QApplication::clipboard()->text();
        if (hasSelectedText()) {
            setCursorPosition(selectionStart());
        }
        for (QChar ch : pasted) {
            TypeChar(ch);  // what does not fit is left out
        }
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Cut)) {
        if (hasSelectedText()) {
            copy();
            ClearInput(selectionStart(), selectionStart() + selectedText().size());
        }
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete) {
        if (hasSelectedText()) {
            ClearInput(selectionStart(), selectionStart() + selectedText().size());
        } else if (event->key() == Qt::Key_Backspace) {
            const int pos = PreviousInputPosition(cursorPosition() - 1);
            if (pos >= 0) {
                ClearInput(pos, pos + 1);
            }
        } else {
            const int pos = NextInputPosition(cursorPosition());
            if (pos >= 0) {
                ClearInput(pos, pos + 1);
                setCursorPosition(pos);
            }
        }
        event->accept();
        return;
    }
    const QString typed = event->text();
    if (typed.size() == 1 && typed[0].isPrint() &&
        (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == 0) {
        if (hasSelectedText()) {
            setCursorPosition(selectionStart());
        }
        TypeChar(typed[0]);
        event->accept();
        return;
    }
    // Movement, selection, copy and the like.
    QLineEdit::keyPressEvent(event);
}
