// SPDX-License-Identifier: GPL-3.0-or-later
// The control classes that CDialogBuilder makes where a plain Qt widget does not behave as the
// dialog's controls must. Each is owned by its dialog (Qt parent) like any child widget.
#pragma once

#include <QButtonGroup>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QRadioButton>
#include <QSlider>

// An edit box that reports losing the keyboard focus (killFocus), which is when a box commits
// its text. Every focus loss counts (Tab, a click elsewhere, the window losing activation),
// except a popup menu opening: a popup does not take the focus from the dialog's controls.
// Enter does not commit; it goes to the dialog (the default button).
class CEditBox : public QLineEdit {
    Q_OBJECT
  public:
    explicit CEditBox(QWidget* pParent = nullptr);

  signals:
    void killFocus();

  protected:
    void focusOutEvent(QFocusEvent* pEvent) override;
};

// A trackbar. Vertical trackbars grow downward: position 0 (the minimum) is at the top, and Up
// and Page Up move the thumb up, toward the minimum. The range is 0..100 until changed, with a
// line of 1 and a page of 20.
//
// scrolled() is the scroll notification: it is sent for every move by the user (each step of a
// drag, a key, a click on the groove) and once more when a drag ends. Moving the position from
// code must not count as a scroll: whoever moves it blocks the trackbar's signals meanwhile
// (QSignalBlocker), as CScaledSlider does.
class CTrackbar : public QSlider {
    Q_OBJECT
  public:
    explicit CTrackbar(Qt::Orientation orientation, QWidget* pParent = nullptr);

  signals:
    void scrolled();
};

// A static control that shows one picture (a bitmap or an icon) at the picture's own size from
// its top-left corner, never scaled. Giving it a picture resizes the control to it, as a
// Windows bitmap static does; a null picture leaves the control's size alone and shows nothing.
//
// SetBitmap (icons) keeps a shallow copy of the pixmap (Qt's implicit sharing). SetImage (the
// preview's frames) takes the image over and paints it directly, with no pixmap in between; it
// gives back the image shown until then, so that the caller can draw the next frame into that
// buffer instead of allocating one.
class CBitmapStatic : public QLabel {
    Q_OBJECT
  public:
    explicit CBitmapStatic(QWidget* pParent = nullptr);

    void SetBitmap(const QPixmap& bitmap);
    QImage SetImage(QImage image);
    // The image that SetImage gave, null when none or a pixmap is shown.
    const QImage& Image() const { return m_image; }

  protected:
    void paintEvent(QPaintEvent* pEvent) override;

  private:
    QImage m_image;
};

// A radio button of an automatic group: a click checks it (clicking a checked one keeps it
// checked), and CRadioGroup unchecks the others of its group. Code may check or uncheck any
// button freely, so a group can have no button checked.
class CAutoRadioButton : public QRadioButton {
    Q_OBJECT
  public:
    explicit CAutoRadioButton(const QString& caption, QWidget* pParent = nullptr);

  protected:
    void nextCheckState() override;
};

// The radio buttons of one group (from a button with the group style up to the next control
// with it): when one becomes checked, by the user or by code, the others are unchecked.
// Owned by the dialog; it does not own the buttons.
class CRadioGroup : public QButtonGroup {
    Q_OBJECT
  public:
    explicit CRadioGroup(QObject* pParent);

  private:
    void OnButtonToggled(QAbstractButton* pButton, bool bChecked);
};
