#include "FilenameEdit.h"

#include "GlyphButton.h"
#include "Pictures.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>

#include <algorithm>

FileNameRules::FileNameRules(QString separators, QString forbidden)
    : separators_(std::move(separators)), forbidden_(std::move(forbidden))
{
}

FileNameRules FileNameRules::windows()
{
    return FileNameRules(QStringLiteral("\\:"), QStringLiteral("<>\"|*?/"));
}

FileNameRules FileNameRules::posix()
{
    return FileNameRules(QStringLiteral("/"), QStringLiteral("<>\"|*?"));
}

bool FileNameRules::isPlausible(const QString &text) const
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (forbidden_.contains(c))
            return false;
    }
    return true;
}

qsizetype FileNameRules::lastSeparator(const QString &text) const
{
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        if (separators_.contains(text.at(i)))
            return i;
    }
    return -1;
}

QString FileNameRules::folderPart(const QString &text) const
{
    return text.left(lastSeparator(text) + 1);
}

QString FileNameRules::namePart(const QString &text) const
{
    return text.mid(lastSeparator(text) + 1);
}

BrowseMemory::BrowseMemory() : BrowseMemory(FileNameRules::native(), &BrowseMemory::isExistingDirectory)
{
}

BrowseMemory::BrowseMemory(FileNameRules rules, DirectoryExists exists)
    : rules_(std::move(rules)), exists_(exists ? std::move(exists) : DirectoryExists(&BrowseMemory::isExistingDirectory))
{
}

bool BrowseMemory::isExistingDirectory(const QString &folder)
{
    return !folder.isEmpty() && QFileInfo(folder).isDir();
}

void BrowseMemory::takeText(const QString &text)
{
    if (!rules_.isPlausible(text))
        return;
    const QString folder = rules_.folderPart(text);
    if (!folder.isEmpty() && exists_(folder))
        initialFolder_ = folder;
    // The dialog shows the whole text, folder and all, in its name box.
    fileName_ = rules_.namePart(text).isEmpty() ? QString() : text;
}

void BrowseMemory::confirm(const QString &path)
{
    fileName_ = path;
    initialFolder_ = rules_.folderPart(path);
}

QStringList FileFilter::toNameFilters(const QString &pairs)
{
    QStringList entries;
    if (pairs.isEmpty())
        return entries;
    const QStringList parts = pairs.split(QLatin1Char('|'));
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString &description = parts.at(i);
        QStringList patterns;
        if (i + 1 < parts.size()) {
            for (const QString &pattern : parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts))
                patterns << pattern.trimmed();
        }
        // A pair with no pattern would otherwise list nothing at all.
        if (patterns.isEmpty())
            patterns << QStringLiteral("*");
        entries << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return entries;
}

InputLengthLimit::InputLengthLimit(int limit, QObject *parent) : QValidator(parent), limit_(limit)
{
}

QValidator::State InputLengthLimit::validate(QString &input, int &cursor) const
{
    if (bypassed_)
        return Acceptable;
    auto [text, at] = limited(previous_, input, cursor, limit_);
    if (text != input) {
        input = std::move(text);
        cursor = at;
    }
    return Acceptable;
}

std::pair<QString, int> InputLengthLimit::limited(const QString &before, const QString &after, int cursor,
                                                  int limit)
{
    if (after.size() <= limit)
        return {after, cursor};

    // Split the edit into a kept head, a replaced middle and a kept tail:
    // the tail is what stands after the cursor, the head what both share.
    cursor = std::clamp(cursor, 0, int(after.size()));
    const qsizetype tail = after.size() - cursor;
    if (tail > before.size() || !before.endsWith(QStringView(after).mid(cursor))) {
        // Not an edit at the cursor (an undo, say): refuse any growth.
        if (after.size() > before.size())
            return {before, int(before.size())};
        return {after, cursor};
    }
    qsizetype head = 0;
    const qsizetype headLimit = std::min<qsizetype>(cursor, before.size() - tail);
    while (head < headLimit && before.at(head) == after.at(head))
        ++head;
    const qsizetype kept = head + tail;
    const qsizetype room = std::max<qsizetype>(0, limit - kept);
    const qsizetype inserted = cursor - head;
    if (inserted <= room)
        return {after, cursor};
    QString text = after.left(head + room) + after.mid(cursor);
    return {text, int(head + room)};
}

void OpenFileDialog::configure(QFileDialog &dialog, const BrowseRequest &request)
{
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Any name is taken as typed: neither the file nor its folder must exist.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setSizeGripEnabled(true);
    dialog.setNameFilters(request.nameFilters);
    if (!request.nameFilters.isEmpty())
        dialog.selectNameFilter(request.nameFilters.constFirst());
    // An empty folder means the process's current one. Left to itself, the
    // toolkit would start in the folder of whichever dialog was last used,
    // and one field's browsing would move where the other's opens.
    dialog.setDirectory(request.initialFolder.isEmpty() ? QDir::currentPath() : request.initialFolder);
    if (request.fileName.isEmpty())
        return;
    // The name box shows the text as it is, folder part and all. Selecting a
    // full path would also move the toolkit's own dialog to that folder, which
    // must stay the remembered one; a native dialog only fills its box.
    if (auto *box = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        box->setText(request.fileName);
    else
        dialog.selectFile(request.fileName);
}

std::optional<QString> OpenFileDialog::open(QWidget *parent, const BrowseRequest &request)
{
    QFileDialog dialog(parent ? parent->window() : nullptr);
    configure(dialog, request);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.constFirst().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(chosen.constFirst());
}

BrowseButton::BrowseButton(QWidget *field) : QWidget(field)
{
    setObjectName(QStringLiteral("browseButton"));
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    // Hover is followed by moves as well, for a pointer that was already
    // there when the button appeared.
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BrowseButton::setBackground(Background background)
{
    background_ = std::move(background);
    update();
}

void BrowseButton::setGlyph(const QImage &frames)
{
    glyph_ = frames.isNull() ? frames : frames.convertToFormat(QImage::Format_ARGB32);
    update();
}

BrowseButton::Frame BrowseButton::frame() const
{
    if (held_)
        return inside_ ? Pressed : Hot;
    return hovered_ ? Hot : Normal;
}

QPoint BrowseButton::glyphPosition() const
{
    const int side = glyph_.isNull() ? 16 : glyph_.height();
    const int shift = frame() == Pressed ? 1 : 0;
    return QPoint((width() - side) / 2 + shift, (height() - side) / 2 + shift);
}

void BrowseButton::paintEvent(QPaintEvent *)
{
    const QWidget *field = parentWidget() ? parentWidget() : this;
    QImage canvas(size(), QImage::Format_RGB32);
    canvas.fill(field->palette().color(QPalette::Base));
    if (background_) {
        QPainter under(&canvas);
        under.translate(-pos());
        background_(under);
    }
    if (!glyph_.isNull()) {
        const int side = glyph_.height();
        GlyphBlend::draw(canvas, glyphPosition(), glyph_, QRect(side * int(frame()), 0, side, side), false);
    }
    QPainter painter(this);
    painter.drawImage(0, 0, canvas);
}

void BrowseButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    held_ = true;
    inside_ = true;
    update();
}

void BrowseButton::mouseMoveEvent(QMouseEvent *event)
{
    if (held_) {
        const bool inside = rect().contains(event->position().toPoint());
        if (inside != inside_) {
            inside_ = inside;
            update();
        }
    } else if (rect().contains(event->position().toPoint())) {
        setHovered(true);
    }
}

void BrowseButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !held_) {
        event->ignore();
        return;
    }
    const bool over = rect().contains(event->position().toPoint());
    held_ = false;
    inside_ = false;
    update();
    // The dialog runs inside this call; nothing of ours is touched after it.
    if (over)
        emit clicked();
}

void BrowseButton::enterEvent(QEnterEvent *)
{
    setHovered(true);
}

void BrowseButton::leaveEvent(QEvent *)
{
    setHovered(false);
}

void BrowseButton::hideEvent(QHideEvent *)
{
    held_ = false;
    inside_ = false;
    setHovered(false);
}

void BrowseButton::setHovered(bool over)
{
    if (over == hovered_)
        return;
    hovered_ = over;
    update();
    emit hoverChanged(over);
}

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
