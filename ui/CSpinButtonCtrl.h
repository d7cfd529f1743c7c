#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

// An up-down control: two small arrow buttons that step an integer position and write it into
// a buddy text field. Each step first takes the position from the buddy's text (when it holds
// a number), moves it by one within the range, writes it back, then emits stepped().
class CSpinButtonCtrl : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDefaultMin = 0;
    static constexpr int kDefaultMax = 100;

    explicit CSpinButtonCtrl(QWidget* parent = nullptr);

    // Attaches the buddy field; with arrowKeys the field's Up and Down keys step as well.
    void SetBuddy(QLineEdit* buddy, bool arrowKeys);

    void SetRange(int lower, int upper);
    int GetLower() const { return m_lower; }
    int GetUpper() const { return m_upper; }
    void SetPos(int pos);
    int GetPos() const { return m_pos; }

    // One step up (+1) or down (-1), as a click on an arrow does.
    void Step(int delta);

signals:
    void stepped(int pos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* m_up;
    QToolButton* m_down;
    QLineEdit* m_buddy = nullptr;
    int m_lower = kDefaultMin;
    int m_upper = kDefaultMax;
    int m_pos = kDefaultMin;
};
