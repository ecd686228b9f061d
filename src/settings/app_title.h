// The application's title: the window's title string and the section of
// Setting.ini. Plain preprocessor only, since the resource script includes it.
#pragma once

#define VORLANE_APP_TITLE "Vorlane"
