// A masked edit: the text always has the mask's length; positions marked "_" in the
// literal string take input, every other position keeps its literal character. The
// mask says what each input position accepts ('0' a digit); a derived control decides
// other mask characters in ProcessMask. Typing overwrites and steps over literals,
// Backspace and Delete put the prompt back, and pasted text goes in character by
// character as if typed. Text set by the program is shown as given.
#pragma once

#include <QLineEdit>
#include <QString>

class CCJMaskEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CCJMaskEdit(QWidget* parent = nullptr);
    ~CCJMaskEdit() override;

    // mask and literal must be of the same length; the text becomes defaultText.
    // False, with the mask left unset, when the lengths differ.
    bool SetEditMask(const QString& mask, const QString& literal, const QString& defaultText);
    const QString& GetEditMask() const { return m_strMask; }
    const QString& GetLiteral() const { return m_strLiteral; }
    // Whether the position takes input.
    bool IsInputPosition(int pos) const;

    // Whether ch may stand at the input position pos; may change ch (upper case, say).
    virtual bool ProcessMask(QChar& ch, int pos) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class CMaskValidator;
    // Puts one typed character in at the cursor; false when it does not fit.
    bool TypeChar(QChar ch);
    void ClearInput(int from, int to);
    int NextInputPosition(int pos) const;
    int PreviousInputPosition(int pos) const;

    QString m_strMask;
    QString m_strLiteral;
};
