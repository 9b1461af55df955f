#include "FilenameEdit.h"

#include "BrowseButton.h"
#include "FileFilter.h"
#include "InputLengthLimit.h"
#include "OpenFileDialog.h"
#include "Pictures.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>

FilenameEdit::FilenameEdit(QWidget *parent) : QLineEdit(parent), dialog_(&OpenFileDialog::open)
{
    setMaxLength(typingLimit);
    // Files dragged from the file manager are not taken; neither is text.
    setAcceptDrops(false);
    limit_ = new InputLengthLimit(typingLimit, this);
    setValidator(limit_);
    connect(this, &QLineEdit::textChanged, this, &FilenameEdit::textHasChanged);

    button_ = new BrowseButton(this);
    button_->setGlyph(Pictures::browseGlyph());
    // The glyph goes over the field's own panel, focus frame and all.
    button_->setBackground([this](QPainter &painter) {
        QStyleOptionFrame option;
        initStyleOption(&option);
        style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    });
    connect(button_, &BrowseButton::clicked, this, &FilenameEdit::browse);
    connect(button_, &BrowseButton::hoverChanged, this, &FilenameEdit::holdClickFocus);
    // The text stops short of the button and scrolls within what is left.
    setTextMargins(0, 0, BrowseButton::fixedWidth, 0);
    placeButton();
    hideInactiveSelection();
}

FilenameEdit::~FilenameEdit() = default;

void FilenameEdit::setFilter(const QString &pairs)
{
    filter_ = pairs;
}

void FilenameEdit::setGlyph(const QImage &frames)
{
    button_->setGlyph(frames);
}

void FilenameEdit::setBrowseDialog(BrowseDialog dialog)
{
    dialog_ = std::move(dialog);
}

void FilenameEdit::setBrowseMemory(BrowseMemory memory)
{
    memory_ = std::move(memory);
}

void FilenameEdit::setFileName(const QString &path)
{
    limit_->setBypassed(true);
    if (path.size() > maxLength())
        setMaxLength(int(path.size()));
    setText(path);
    limit_->setBypassed(false);
}

void FilenameEdit::browse()
{
    memory_.takeText(text());
    const BrowseRequest request{memory_.initialFolder(), memory_.fileName(), FileFilter::toNameFilters(filter_)};
    QPointer<FilenameEdit> self(this);
    const std::optional<QString> chosen = dialog_ ? dialog_(this, request) : std::nullopt;
    if (!self)
        return;
    // However the dialog ended, the field has the keyboard again.
    setFocus(Qt::OtherFocusReason);
    if (!chosen)
        return;
    setFileName(*chosen);
    memory_.confirm(*chosen);
}

void FilenameEdit::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers held = event->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::ShiftModifier);
    if (event->key() == Qt::Key_Down && held == Qt::AltModifier) {
        event->accept();
        browse();
        return;
    }
    // Enter and Escape pass on to the window, where a default or cancel
    // button would take them; the field itself does nothing with them.
    QLineEdit::keyPressEvent(event);
}

void FilenameEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // Coming back from the field's own context menu keeps the selection the
    // menu was opened on.
    if (event->reason() != Qt::PopupFocusReason)
        selectAll();
}

void FilenameEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    placeButton();
}

void FilenameEdit::changeEvent(QEvent *event)
{
    QLineEdit::changeEvent(event);
    switch (event->type()) {
    case QEvent::StyleChange:
    case QEvent::FontChange:
        placeButton();
        break;
    case QEvent::PaletteChange:
        hideInactiveSelection();
        button_->update();
        break;
    default:
        break;
    }
}

void FilenameEdit::placeButton()
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect inner = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    button_->setGeometry(inner.right() - BrowseButton::fixedWidth + 1, inner.top(), BrowseButton::fixedWidth, inner.height());
}

void FilenameEdit::hideInactiveSelection()
{
    // Qt drops the selection when another control takes the focus, but keeps
    // showing it while the window is inactive; this field shows none there.
    QPalette colours = palette();
    const QColor base = colours.color(QPalette::Inactive, QPalette::Base);
    const QColor text = colours.color(QPalette::Inactive, QPalette::Text);
    if (colours.color(QPalette::Inactive, QPalette::Highlight) == base
        && colours.color(QPalette::Inactive, QPalette::HighlightedText) == text)
        return;
    colours.setColor(QPalette::Inactive, QPalette::Highlight, base);
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText, text);
    setPalette(colours);
}

void FilenameEdit::holdClickFocus(bool hold)
{
    // A click hands the focus to the first widget up from the one clicked that
    // takes click focus, and the button's parent is this field; pressing the
    // button must leave the focus where it was. While the pointer is over the
    // button the field takes focus by keyboard only.
    if (hold == clickFocusHeld_)
        return;
    clickFocusHeld_ = hold;
    if (hold) {
        heldPolicy_ = focusPolicy();
        setFocusPolicy(Qt::FocusPolicy(heldPolicy_ & ~Qt::ClickFocus));
    } else {
        setFocusPolicy(heldPolicy_);
    }
}

void FilenameEdit::textHasChanged(const QString &text)
{
    limit_->setPrevious(text);
    // A long path from the dialog raised the edit's own maximum so as not to
    // be cut; once the text fits again, the maximum goes back (the limit
    // above already holds typing to it meanwhile). Not from inside the
    // change itself: the edit is still finishing it.
    if (maxLength() > typingLimit && text.size() <= typingLimit && !restorePending_) {
        restorePending_ = true;
        QTimer::singleShot(0, this, &FilenameEdit::restoreTypingLimit);
    }
}

void FilenameEdit::restoreTypingLimit()
{
    restorePending_ = false;
    if (maxLength() <= typingLimit || text().size() > typingLimit)
        return;
    // Changing the maximum sets the text anew, which moves the cursor to the
    // end and forgets the selection; both are put back.
    const int cursor = cursorPosition();
    const int start = selectionStart();
    const int length = int(selectedText().size());
    setMaxLength(typingLimit);
    if (start >= 0 && length > 0) {
        // The cursor stays at whichever end of the selection it was.
        if (cursor == start)
            setSelection(start + length, -length);
        else
            setSelection(start, length);
    } else {
        setCursorPosition(cursor);
    }
}
