// The few kinds of control the calculator window is made of, over Qt Widgets.
//
// Positions are given in twips (1440 an inch); 15 twips make one logical pixel, so the
// window is pixel-true at 96 dpi and Qt's device-pixel ratio scales it on denser screens.
// Step and option buttons report the release of any mouse button that was pressed over
// them; the calculator acts on that rather than on a click.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QFont>
#include <QRect>
#include <QString>

#include <cstdint>
#include <vector>

class QMouseEvent;

namespace controls {

constexpr int TwipsPerPixel = 15;

// A rectangle given in twips, in logical pixels.
QRect Twips(int left, int top, int width, int height);

// The font the layout was drawn for: the classic 8-point dialog font, or its stand-in.
QFont DialogFont(const QFont& base);

// What a mouse release carries: the button (1 left, 2 right, 4 middle), the keys held
// (1 Shift, 2 Ctrl, 4 Alt) and the pointer position in twips from the control's corner.
struct MouseArgs {
    int16_t Button = 0;
    int16_t Shift = 0;
    float X = 0;
    float Y = 0;
};

// Single-line text box with its own font and, optionally, text colour.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget* container);
    QString Text() const;
    // Replaces the whole text and shows it from its start. A reason given in the tooltip
    // was about the old text, so it goes with it.
    void SetText(const QString& text);
    void SetTextColor(const QColor& color);
};

// Push button. Enter activates it like Space while it has the focus.
class PushButton : public QPushButton {
    Q_OBJECT
public:
    PushButton(const QString& caption, QWidget* container);
signals:
    void MouseUp(controls::MouseArgs args);

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
};

// One member of an indexed group of option buttons.
class OptionButton : public QRadioButton {
    Q_OBJECT
public:
    OptionButton(const QString& caption, int16_t index, QWidget* container);
    int16_t Index() const { return index_; }
signals:
    // Raised after the release has had its effect on the selection.
    void MouseUp(int16_t Index, controls::MouseArgs args);
    // Raised when the user selects this member other than by a mouse release: the arrow
    // keys, Space, an accessibility tool. args carries no button (0) and the keys held.
    // A selection made by the program (setChecked, OptionGroup::Select) raises nothing.
    void Chosen(int16_t Index, controls::MouseArgs args);

protected:
    // The whole rectangle is the button, not only the mark and the caption.
    bool hitButton(const QPoint& pos) const override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    // Runs only inside a click, before the selection changes.
    void nextCheckState() override;

private:
    void AfterClick();

    int16_t index_;
    bool releasing_ = false;  // inside a mouse release
    bool selectedByClick_ = false;
};

// Option buttons addressed by member index; at most one of them is selected.
class OptionGroup {
public:
    void Add(OptionButton* member) { members_.push_back(member); }
    OptionButton* operator()(int index) const { return members_.at(static_cast<std::size_t>(index)); }
    std::size_t Count() const { return members_.size(); }
    // Selecting a member deselects the others and raises no mouse release.
    void Select(int index) const { (*this)(index)->setChecked(true); }
    bool Selected(int index) const { return (*this)(index)->isChecked(); }

private:
    std::vector<OptionButton*> members_;
};

// Frame with its caption in the top edge of its border.
class Frame : public QGroupBox {
    Q_OBJECT
public:
    Frame(const QString& caption, QWidget* container);

protected:
    // Drawn here rather than by the style, which may put the caption above the border.
    void paintEvent(QPaintEvent* e) override;
};

// Left-aligned caption wrapped at word boundaries.
class Label : public QLabel {
    Q_OBJECT
public:
    Label(const QString& caption, QWidget* container);
};

}  // namespace controls
