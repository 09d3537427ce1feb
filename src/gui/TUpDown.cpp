// The up/down spinner.
#include "gui/TUpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>
#include <optional>

namespace ab {
namespace {

// Decimal digits with optional surrounding spaces; nullopt for anything else or above `limit`.
std::optional<int> ParseWhole(const QString& text, int limit) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    long long value = 0;
    for (QChar c : t) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > limit)
            return std::nullopt;
    }
    return static_cast<int>(value);
}

QToolButton* MakeArrow(QWidget* parent, Qt::ArrowType arrow, const char* name) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setArrowType(arrow);
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

}  // namespace

TUpDown::TUpDown(QWidget* parent)
    : QWidget(parent),
      up_(MakeArrow(this, Qt::UpArrow, "up")),
      down_(MakeArrow(this, Qt::DownArrow, "down")) {
    setFocusPolicy(Qt::NoFocus);
    connect(up_, &QToolButton::clicked, this, [this] { StepBy(1); });
    connect(down_, &QToolButton::clicked, this, [this] { StepBy(-1); });
}

void TUpDown::SetAssociate(QLineEdit* edit) {
    if (associate_ != nullptr) {
        associate_->removeEventFilter(this);
    }
    associate_ = edit;
    if (associate_ == nullptr)
        return;
    associate_->installEventFilter(this);
    SetPosition(position_);
}

void TUpDown::SetRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    SetPosition(position_);
}

void TUpDown::SetPosition(int value) {
    position_ = std::clamp(value, minimum_, maximum_);
    if (associate_ != nullptr)
        associate_->setText(QString::number(position_));
}

void TUpDown::StepBy(int delta) {
    SetPosition(static_cast<int>(
        std::clamp<long long>(static_cast<long long>(Position()) + delta, minimum_, maximum_)));
}

int TUpDown::Position() const {
    if (associate_ != nullptr) {
        if (const auto value = ParseWhole(associate_->text(), maximum_);
            value && *value >= minimum_) {
            position_ = *value;
        }
    }
    return position_;
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == associate_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            StepBy(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TUpDown::resizeEvent(QResizeEvent*) {
    const int upHeight = (height() + 1) / 2;
    up_->setGeometry(0, 0, width(), upHeight);
    down_->setGeometry(0, upHeight, width(), height() - upHeight);
}

}  // namespace ab
