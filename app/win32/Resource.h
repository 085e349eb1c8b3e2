// SPDX-License-Identifier: MIT
#pragma once

// Shared by the resource script and the window's code.
#define IDI_TAVRO 1
#define IDR_MAINMENU 100
#define IDR_ACCELERATORS 101
#define IDD_COMMSETTINGS 102

#define IDI_TOOL_OPEN 110
#define IDI_TOOL_SAVE 111
#define IDI_TOOL_PRINT 112
#define IDI_TOOL_FONT 113
#define IDI_TOOL_HELP 114
#define IDI_TOOL_CLEAR 115

// Commands: menu items, accelerators and tool buttons.
#define ID_FILE_OPEN 200
#define ID_FILE_SAVEAS 201
#define ID_FILE_PRINT 202
#define ID_FILE_EXIT 203
#define ID_COM_CONNECT 210
#define ID_COM_DISCONNECT 211
#define ID_COM_SETTING 212
#define ID_LANGUAGE_ENGLISH 220
#define ID_LANGUAGE_CHINESE 221
#define ID_HELP_CONTENTS 230
#define ID_HELP_ABOUT 231
#define ID_SET_FONT 240
#define ID_CLEAR 241
#define ID_HELP_BUTTON 242

// Settings dialog controls.
#define IDC_PORTBOX 300
#define IDC_BAUDBOX 301
#define IDC_DEFAULT 302
