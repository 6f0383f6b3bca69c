// The number of conversions a batch runs at once, in the settings dialog:
// "Одновременных конвертаций:" from 1 to twice the number of cores, writing
// ConvFunc.Options.Jobs the moment it changes, like every control of the dialog.
#pragma once

class QSpinBox;
class QWidget;

// Puts the control in a group of its own on `page` and returns it.
QSpinBox* MakeJobsChoice(QWidget* page);
// Shows the setting without changing it: a value out of range (a hand edit of config.cfg)
// shows at its nearest bound and stays as read until the user changes it.
void ShowJobs(QSpinBox* jobs);
