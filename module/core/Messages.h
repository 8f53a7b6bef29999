// The six registered messages to the host window, and the exports that only
// post or send one of them.
#pragma once

#include <ruzada/hostlink.h>

// A message identifier registered while the library loads, before attach.
class RegisteredMessage {
public:
    explicit RegisteredMessage(const char* name) : m_id(RegisterWindowMessageA(name)) {}
    operator UINT() const { return m_id; }

private:
    UINT m_id;
};

extern const RegisteredMessage g_uMsgChar;        // "DG_CHAR": one decoded character
extern const RegisteredMessage g_uMsgSentChar;    // "DG_SENTCHAR": one character handed to the encoder
extern const RegisteredMessage g_uMsgRawData;     // "DG_RAWDATA": a new spectrum; sample rate, level
extern const RegisteredMessage g_uMsgVU;          // "DG_VU": registered, never sent
extern const RegisteredMessage g_uMsgXmitRecv;    // "DG_XMITRECV": transmit and receive states
extern const RegisteredMessage g_uMsgRequestCom;  // "DG_REQUESTCOM": asks the host for a COM port

// Posts to the bound host window; the result is the post's.
BOOL PostToHost(UINT message, WPARAM wParam, LPARAM lParam);
// Records both states and posts "DG_XMITRECV" (xmit, recv).
BOOL PostXmitRecv(BOOL xmit, BOOL recv);
