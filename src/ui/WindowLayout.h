#pragma once

#include <string_view>

#include <QRect>

#include "Twips.h"

class QCheckBox;
class QFont;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// How both windows place their controls: at fixed places in twips, each named as the user and the
// tests know it, its tooltip also the description screen readers give. Controls with a caption
// (labels, buttons, frames) are called by it, which Qt reads live; input boxes by their label.

// The font both windows are designed for.
QFont windowFont();

// Names the widget, puts it at geometry and gives it the tip, if any.
void setUpControl(QWidget* widget, const char* name, QRect geometry, std::string_view tip = {});

template <class Widget> Widget* place(QWidget* parent, const char* name, QRect geometry, std::string_view tip = {})
{
    auto* widget = new Widget(parent);
    setUpControl(widget, name, geometry, tip);
    return widget;
}

QLabel* placeLabel(QWidget* parent, const char* name, QRect geometry, std::string_view caption,
                   Qt::Alignment alignment = Qt::AlignLeft, std::string_view tip = {});
QPushButton* placeButton(QWidget* parent, const char* name, QRect geometry, std::string_view caption,
                         std::string_view tip);
QCheckBox* placeCheckBox(QWidget* parent, const char* name, QRect geometry, std::string_view caption,
                         std::string_view tip);
QGroupBox* placeFrame(QWidget* parent, const char* name, QRect geometry, std::string_view caption);
QLineEdit* placeReadOnlyBox(QWidget* parent, const char* name, QRect geometry, std::string_view tip);
// An input box has no caption of its own: it is named by the label beside it.
void nameBy(QWidget* box, QLabel* label);
