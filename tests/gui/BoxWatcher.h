// Answers the modal message boxes a test provokes: every box that becomes the active modal widget
// is recorded (title, text, icon, button texts) and dismissed with the next queued answer, or with
// its first button when no answer is queued.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <vector>

namespace ab::test {

struct BoxRecord {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::TextFormat format = Qt::AutoText;
    QStringList buttons;
};

class BoxWatcher : public QObject {
  public:
    explicit BoxWatcher(QStringList answers = {}) : answers_(answers.begin(), answers.end()) {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start();
    }

    const std::vector<BoxRecord>& Boxes() const { return boxes_; }

  private:
    void Poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box == last_)
            return;
        last_ = box;
        BoxRecord r{box->windowTitle(), box->text(), box->icon(), box->textFormat(), {}};
        QAbstractButton* chosen = nullptr;
        const QString answer = answers_.empty() ? QString() : answers_.front();
        if (!answers_.empty())
            answers_.pop_front();
        for (QAbstractButton* b : box->buttons()) {
            r.buttons << b->text();
            if (chosen == nullptr && (answer.isEmpty() || b->text() == answer))
                chosen = b;
        }
        boxes_.push_back(r);
        if (chosen != nullptr)
            chosen->click();
    }

    QTimer timer_;
    std::deque<QString> answers_;
    std::vector<BoxRecord> boxes_;
    QPointer<QMessageBox> last_;
};

}  // namespace ab::test
