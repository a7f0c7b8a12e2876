// Resource ids, shared by the resource script and the code.
#pragma once

#define IDR_FRAME 128
#define IDI_APP 128
#define IDD_ABOUTBOX 100
#define IDI_GPS_ON_A 130
#define IDI_GPS_ON_B 131
#define IDI_GPS_OFF 132
#define IDS_COM_OPEN_ERROR 65008
#define IDC_ABOUT_ICON 1000
#define IDC_ABOUT_VERSION 1001
#define IDC_ABOUT_COPYRIGHT 1002

#define ID_GPS_ON 65008
#define ID_GPS_OFF 65009
#define ID_APP_ABOUT 0xE140
