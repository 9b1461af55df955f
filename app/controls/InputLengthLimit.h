#pragma once

#include <QString>
#include <QValidator>

#include <utility>

// The most characters a person can type or paste into a line edit, applied
// like the platform's own edit limit: an edit keeps what it removes, and of
// what it inserts only as much as fits. A text that already holds more (put
// there by the program) can be shortened but gains nothing until it fits.
//
// The line edit's own maximum length cannot say this: it would cut a longer
// text that the program sets. Installed as the edit's validator, this sees
// every change, whichever way it came in, and needs the text as it stood
// before, which the owner hands it whenever the text has changed.
class InputLengthLimit : public QValidator
{
public:
    InputLengthLimit(int limit, QObject *parent = nullptr);

    int limit() const { return limit_; }
    void setPrevious(const QString &text) { previous_ = text; }
    // While set, every change passes as it is: the program's own settings.
    void setBypassed(bool bypassed) { bypassed_ = bypassed; }

    State validate(QString &input, int &cursor) const override;

    // The text and cursor an edit from `before` to `after` is allowed to
    // leave; `cursor` stands after the inserted part, as editing leaves it.
    static std::pair<QString, int> limited(const QString &before, const QString &after, int cursor, int limit);

private:
    int limit_;
    QString previous_;
    bool bypassed_ = false;
};
