#include "main/mainfunc.h"

#include "main/uihooks.h"

TMainFunc MainFunc;
TUiHooks UiHooks;
