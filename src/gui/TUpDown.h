// An up/down spinner bound to a separate text field: the field shows the position as a plain
// decimal number (no thousands separator). Reading the position reads the field: a whole number
// within the range becomes the position; any other text leaves the last valid one.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace ab {

class TUpDown : public QWidget {
  public:
    explicit TUpDown(QWidget* parent = nullptr);

    // The field that shows the position; its Up and Down keys step the spinner.
    void SetAssociate(QLineEdit* edit);
    void SetRange(int minimum, int maximum);
    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }

    int Position() const;
    // Clamped into the range; the field is rewritten with the number.
    void SetPosition(int value);
    // One click on an arrow: moves by `delta`, stopping at the range's ends.
    void StepBy(int delta);

    QToolButton* UpButton() const { return up_; }
    QToolButton* DownButton() const { return down_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QLineEdit* associate_ = nullptr;
    QToolButton* up_;
    QToolButton* down_;
    int minimum_ = 0;
    int maximum_ = 100;
    mutable int position_ = 0;  // last valid position, refreshed whenever the field is read
};

}  // namespace ab
