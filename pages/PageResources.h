// Resource and control ids of the property pages' dialogs (shared by code and resource script).
#pragma once

// Settings page
#define IDD_AUDIOSOURCEPP 106
#define IDC_CHANNELS 201
#define IDC_MASK 202
#define IDC_RATE 203
#define IDC_BITS 204
#define IDC_CHANNEL 210
#define IDC_FREQ_PLACE 211
#define IDC_FREQ_SLIDER 212
#define IDC_FREQ 213
#define IDC_FREQ_SPIN 214
#define IDC_AMP_PLACE 221
#define IDC_AMP_SLIDER 222
#define IDC_AMP 223
#define IDC_AMP_SPIN 224

// About page
#define IDD_TONEWELLABOUT 111
#define IDC_ABOUT_LOGO 301
#define IDC_ABOUT_VERSION 302
#define IDC_ABOUT_URL 303
#define IDC_ABOUT_SUPPORT 304
#define IDC_ABOUT_WARNING 305
#define IDB_ABOUT_LOGO 300
