#include "core/Messages.h"

#include <RUZada.h>

#include "core/Globals.h"
#include "core/Guard.h"

[[gnu::init_priority(1001)]] const RegisteredMessage g_uMsgChar("DG_CHAR");
[[gnu::init_priority(1001)]] const RegisteredMessage g_uMsgSentChar("DG_SENTCHAR");
[[gnu::init_priority(1001)]] const RegisteredMessage g_uMsgRawData("DG_RAWDATA");
[[gnu::init_priority(1001)]] const RegisteredMessage g_uMsgVU("DG_VU");
[[gnu::init_priority(1001)]] const RegisteredMessage g_uMsgXmitRecv("DG_XMITRECV");
[[gnu::init_priority(1001)]] const RegisteredMessage g_uMsgRequestCom("DG_REQUESTCOM");

BOOL PostToHost(UINT message, WPARAM wParam, LPARAM lParam)
{
    return PostMessageA(g_hwndHost, message, wParam, lParam);
}

BOOL PostXmitRecv(BOOL xmit, BOOL recv)
{
    g_bRecvPosted = recv ? 1 : 0;
    g_bXmitPosted = xmit ? 1 : 0;
    return PostToHost(g_uMsgXmitRecv, static_cast<WPARAM>(xmit), g_bRecvPosted);
}

BOOL DGSetRecv(BOOL on)
{
    return Guarded(FALSE, [&] {
        g_bRecvPosted = on ? 1 : 0;
        return PostToHost(g_uMsgXmitRecv, static_cast<WPARAM>(g_bXmitPosted.load()), g_bRecvPosted);
    });
}

BOOL DGSetXmit(BOOL on)
{
    return Guarded(FALSE, [&] {
        g_bXmitPosted = on ? 1 : 0;
        return PostToHost(g_uMsgXmitRecv, static_cast<WPARAM>(g_bXmitPosted.load()), g_bRecvPosted);
    });
}

LRESULT DGRequestComPort(void)
{
    return Guarded(LRESULT{0}, [] { return SendMessageA(g_hwndHost, g_uMsgRequestCom, 0, 0); });
}
