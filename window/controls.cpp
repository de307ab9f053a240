#include "window/controls.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include <utility>

namespace controls {

QRect Twips(int left, int top, int width, int height)
{
    return {left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel, height / TwipsPerPixel};
}

QFont DialogFont(const QFont& base)
{
    QFont font = base;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), base.family()});
    font.setPointSize(8);
    return font;
}

namespace {

int16_t KeysHeld(Qt::KeyboardModifiers mods)
{
    return static_cast<int16_t>((mods & Qt::ShiftModifier ? 1 : 0) | (mods & Qt::ControlModifier ? 2 : 0) |
                                (mods & Qt::AltModifier ? 4 : 0));
}

MouseArgs ArgsOf(const QMouseEvent* e)
{
    MouseArgs a;
    switch (e->button()) {
    case Qt::LeftButton: a.Button = 1; break;
    case Qt::RightButton: a.Button = 2; break;
    case Qt::MiddleButton: a.Button = 4; break;
    default: a.Button = 0; break;
    }
    a.Shift = KeysHeld(e->modifiers());
    a.X = static_cast<float>(e->position().x() * TwipsPerPixel);
    a.Y = static_cast<float>(e->position().y() * TwipsPerPixel);
    return a;
}

}  // namespace

TextBox::TextBox(QWidget* container) : QLineEdit(container) {}

QString TextBox::Text() const
{
    return text();
}

void TextBox::SetText(const QString& text)
{
    setText(text);
    setCursorPosition(0);
    setToolTip({});
}

void TextBox::SetTextColor(const QColor& color)
{
    QPalette p = palette();
    p.setColor(QPalette::Text, color);
    setPalette(p);
}

PushButton::PushButton(const QString& caption, QWidget* container) : QPushButton(caption, container)
{
    setAutoDefault(false);
    setDefault(false);
}

void PushButton::mouseReleaseEvent(QMouseEvent* e)
{
    QPushButton::mouseReleaseEvent(e);
    emit MouseUp(ArgsOf(e));
}

void PushButton::keyPressEvent(QKeyEvent* e)
{
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && !e->isAutoRepeat()) {
        click();
        return;
    }
    QPushButton::keyPressEvent(e);
}

OptionButton::OptionButton(const QString& caption, int16_t index, QWidget* container)
    : QRadioButton(caption, container), index_(index)
{
    // Qt clicks a member for the arrow keys and Space as for the mouse, and never for
    // setChecked.
    connect(this, &QAbstractButton::clicked, this, &OptionButton::AfterClick);
}

bool OptionButton::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void OptionButton::mouseReleaseEvent(QMouseEvent* e)
{
    releasing_ = true;
    QRadioButton::mouseReleaseEvent(e);
    releasing_ = false;
    emit MouseUp(index_, ArgsOf(e));
}

void OptionButton::nextCheckState()
{
    const bool before = isChecked();
    QRadioButton::nextCheckState();
    selectedByClick_ = !before && isChecked();
}

void OptionButton::AfterClick()
{
    // A click on the member already selected changes nothing, and the mouse has its own
    // report in MouseUp.
    if (!std::exchange(selectedByClick_, false) || releasing_) {
        return;
    }
    MouseArgs a;
    a.Shift = KeysHeld(QGuiApplication::keyboardModifiers());
    emit Chosen(index_, a);
}

Frame::Frame(const QString& caption, QWidget* container) : QGroupBox(caption, container)
{
    setFocusPolicy(Qt::NoFocus);
}

void Frame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QFontMetrics fm = fontMetrics();
    // Etched border whose top edge runs through the middle of the caption.
    const QRect border = rect().adjusted(0, fm.height() / 2, -2, -2);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(border);
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(border.translated(1, 1));

    const QRect caption(8, 0, fm.horizontalAdvance(title()) + 4, fm.height());
    p.fillRect(caption, palette().color(QPalette::Window));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(caption, Qt::AlignCenter | Qt::TextSingleLine, title());
}

Label::Label(const QString& caption, QWidget* container) : QLabel(caption, container)
{
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextFormat(Qt::PlainText);
    setFocusPolicy(Qt::NoFocus);
}

}  // namespace controls
