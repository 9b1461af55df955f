#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <vector>

// Watches for modal message boxes, notes what each one says and presses its
// OK button, so that a test never waits on a person. It keeps watching inside
// the box's own event loop and inside the run's pumps alike.
class ModalBoxCatcher
{
public:
    struct Box
    {
        QString text;
        QString caption;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int buttons = 0;
        // As the OK button reads, in whatever language Qt's texts are in.
        QString okText;
        // Whatever the test asked to note while the box was up.
        QVariantMap state;
    };

    // `note` is called while each box is shown, before it is dismissed.
    explicit ModalBoxCatcher(std::function<QVariantMap()> note = {}) : note_(std::move(note))
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }

    const std::vector<Box> &boxes() const { return boxes_; }

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == last_ || !box->isVisible())
            return;
        last_ = box;
        Box seen;
        seen.text = box->text();
        seen.caption = box->windowTitle();
        seen.icon = box->icon();
        seen.buttons = int(box->buttons().size());
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            seen.okText = ok->text();
        if (note_)
            seen.state = note_();
        boxes_.push_back(seen);
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }

    std::function<QVariantMap()> note_;
    QTimer timer_;
    QPointer<QMessageBox> last_;
    std::vector<Box> boxes_;
};
