#pragma once

class QWidget;

// Text that sits below a title (captions, details, versions) in the secondary color of the
// palette around it. The color follows that palette when it changes while the application runs,
// as it does when the desktop switches between a light and a dark theme.
namespace SecondaryText {

// Colors the widget's text, and its icons that follow the text, from now on.
void apply(QWidget *widget);
// Lets the widget's text take another color again.
void remove(QWidget *widget);

} // namespace SecondaryText
