#pragma once

#include "BrowseMemory.h"
#include "BrowseRequest.h"

#include <QImage>
#include <QLineEdit>

class BrowseButton;
class InputLengthLimit;

// A one-line field for a file's path with a browse button inside its border
// at the right end. The button, or Alt+Down, opens the open-file dialog,
// which starts where the field's browse memory says; a confirmed file's full
// path becomes the field's text. People can type up to 255 characters; a
// path from the dialog is taken whole, however long.
class FilenameEdit : public QLineEdit
{
    Q_OBJECT

public:
    static constexpr int typingLimit = 255;

    explicit FilenameEdit(QWidget *parent = nullptr);
    ~FilenameEdit() override;

    // The text exactly as shown: nothing trimmed, nothing checked.
    QString FileName() const { return text(); }

    // The dialog's file types as "description|pattern" pairs joined by "|".
    void setFilter(const QString &pairs);
    const QString &filter() const { return filter_; }

    // Three frames side by side: normal, hot, pressed.
    void setGlyph(const QImage &frames);

    // Who opens the dialog; the toolkit's open-file dialog unless replaced.
    void setBrowseDialog(BrowseDialog dialog);
    // A memory with rules or a directory check of its own; starts empty.
    void setBrowseMemory(BrowseMemory memory);
    const BrowseMemory &browseMemory() const { return memory_; }

    // Sets the text without cutting it to the typing limit.
    void setFileName(const QString &path);

    BrowseButton *browseButton() const { return button_; }

public slots:
    // Opens the dialog as the browse button does.
    void browse();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void placeButton();
    void hideInactiveSelection();
    void holdClickFocus(bool hold);
    void textHasChanged(const QString &text);
    void restoreTypingLimit();

    BrowseButton *button_ = nullptr;
    InputLengthLimit *limit_ = nullptr;
    BrowseMemory memory_;
    BrowseDialog dialog_;
    QString filter_;
    Qt::FocusPolicy heldPolicy_ = Qt::StrongFocus;
    bool clickFocusHeld_ = false;
    bool restorePending_ = false;
};
