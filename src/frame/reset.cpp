// The reset sentence other programs ask for.
#include "frame/main_frame.h"
#include "gpsport/gps_port.h"

LRESULT CMainFrame::OnResetGps(WPARAM, LPARAM) { return ResetGpsReceiver(this); }
