// The choice of loudness tags in the settings dialog: "ReplayGain:" with "Выкл.",
// "По трекам" and "По трекам и альбомам", writing ConvFunc.Options.ReplayGain the moment it
// changes, like every control of the dialog.
#pragma once

class QComboBox;
class QWidget;

// Puts the choice in a group of its own on `page` and returns its list.
QComboBox* MakeReplayGainChoice(QWidget* page);
// Shows the setting without changing it; a value outside the items shows no item.
void ShowReplayGain(QComboBox* list);
