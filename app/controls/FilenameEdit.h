#pragma once

// All that the file-name field is made of, so that one control reads in one
// place: first the rules it reads its text and limits typing by, which need
// no widget, then the open-file dialog, the browse button and the field.

#include <QImage>
#include <QLineEdit>
#include <QString>
#include <QStringList>
#include <QValidator>
#include <QWidget>

#include <functional>
#include <optional>
#include <utility>

class QFileDialog;
class QPainter;

// How a file-name field reads the text in it before browsing: whether the
// text could name a file at all, and where its folder part ends. On Windows
// a folder ends at "\" or ":" and "/" is one of the characters no file name
// holds; elsewhere "/" is the separator, so it cannot be a forbidden one.
class FileNameRules
{
public:
    static FileNameRules windows();
    static FileNameRules posix();
    // The rules of the system the program runs on (FileNameRulesPosix.cpp,
    // FileNameRulesWindows.cpp).
    static FileNameRules native();

    // Not empty and free of every forbidden character.
    bool isPlausible(const QString &text) const;
    // Up to and including the last separator; empty without one.
    QString folderPart(const QString &text) const;
    // What follows the last separator; the whole text without one.
    QString namePart(const QString &text) const;

    const QString &separators() const { return separators_; }
    const QString &forbidden() const { return forbidden_; }

private:
    FileNameRules(QString separators, QString forbidden);

    qsizetype lastSeparator(const QString &text) const;

    QString separators_;
    QString forbidden_;
};

// Where a file-name field's open dialog starts and which name it offers:
// taken from the field's text before each browse when that text could name
// a file, and from the file the user picked after a confirmed one. A text
// that cannot name a file leaves it as the previous browse left it, so a
// cleared field still opens where the user last looked.
class BrowseMemory
{
public:
    // Whether a folder part (with its trailing separator) names an existing
    // directory.
    using DirectoryExists = std::function<bool(const QString &folder)>;

    // The running system's rules, asked of the file system.
    BrowseMemory();
    // Without `exists`, the file system is asked.
    BrowseMemory(FileNameRules rules, DirectoryExists exists);

    // Before the dialog opens: the field's text.
    void takeText(const QString &text);
    // After the user confirmed a file: its full path.
    void confirm(const QString &path);

    const QString &initialFolder() const { return initialFolder_; }
    const QString &fileName() const { return fileName_; }
    const FileNameRules &rules() const { return rules_; }

    // The platform's answer: the path has attributes and they say directory.
    static bool isExistingDirectory(const QString &folder);

private:
    FileNameRules rules_;
    DirectoryExists exists_;
    QString initialFolder_;
    QString fileName_;
};

// A file-type list written as "description|pattern" pairs, all joined by "|"
// (patterns within a pair separated by ";"), turned into the toolkit's own
// entries "description (pattern pattern)". The first entry is the one the
// dialog starts with.
class FileFilter
{
public:
    static QStringList toNameFilters(const QString &pairs);
};

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

// What a file-name field's open dialog is opened with.
struct BrowseRequest
{
    // Empty: the platform's default folder.
    QString initialFolder;
    // Shown in the dialog's name box as it is, folder part included.
    QString fileName;
    // In the toolkit's syntax; the first is selected.
    QStringList nameFilters;
};

// Opens the dialog, modal to the program's windows, and returns the chosen
// file's full path, or nothing when the user cancelled.
using BrowseDialog = std::function<std::optional<QString>(QWidget *parent, const BrowseRequest &request)>;

// The toolkit's open-file dialog as a file-name field opens it: one file,
// which need not exist, nor its folder; the toolkit's own title.
class OpenFileDialog
{
public:
    static void configure(QFileDialog &dialog, const BrowseRequest &request);
    // Runs the dialog modally over `parent`'s window. The chosen path comes
    // back in the system's own separators.
    static std::optional<QString> open(QWidget *parent, const BrowseRequest &request);
};

// The bare glyph at the right end of a file-name field that opens its
// dialog. It draws no face of its own: only one of three frames of its glyph
// on the field's background. It never takes the keyboard focus.
class BrowseButton : public QWidget
{
    Q_OBJECT

public:
    enum Frame { Normal = 0, Hot = 1, Pressed = 2 };

    // The glyph's width and a pixel either side.
    static constexpr int fixedWidth = 18;

    explicit BrowseButton(QWidget *field);

    // Paints what lies under the button, in the field's coordinates; without
    // one, the background is the field's base colour.
    using Background = std::function<void(QPainter &painter)>;
    void setBackground(Background background);

    // Frames of glyph.height() pixels square, side by side.
    void setGlyph(const QImage &frames);
    const QImage &glyph() const { return glyph_; }

    Frame frame() const;
    // Where the current frame goes: centred, a pixel right and down while
    // shown pressed.
    QPoint glyphPosition() const;

signals:
    // The left mouse button was pressed on the button and released over it.
    void clicked();
    // The pointer came over the button or left it.
    void hoverChanged(bool over);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void setHovered(bool over);

    Background background_;
    QImage glyph_;
    bool held_ = false;   // the left button went down on us and is still down
    bool inside_ = false; // while held: the pointer is over us
    bool hovered_ = false;
};

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
