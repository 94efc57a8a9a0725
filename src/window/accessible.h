#pragma once

class QLabel;

namespace zavoket {

// What a screen reader is told beyond what Qt tells it by itself: the window is a frame whose
// children are the controls shown (a hidden one is not there at all), and the labels below are
// what they are told as. Installed once per process; from the window's thread.
void installAccessibleViews();

// The label ("N/194") is told as a progress bar with its value, of as many as the catalogue has.
void tellAsProgress(QLabel* label);
// The label is told as a notification: shown, a screen reader says its text at once.
void tellAsNotification(QLabel* label);

// The label's value changed: a screen reader that follows it says the new one.
void progressChanged(QLabel* label);

}  // namespace zavoket
