"""What fldigi's modem is asked to be, written into the configuration files it reads at start."""

RATE = 8000
MODES = ("RTTY", "BPSK31", "BPSK63", "BPSK125", "QPSK31", "QPSK63", "CW")
# fldigi keeps RTTY speed and shift as indexes into these tables (RTTYBAUD, RTTYSHIFT); a shift
# index past the table's end selects the custom shift (RTTYCUSTOMSHIFT).
RTTY_BAUDS = (45.0, 45.45, 50.0, 56.0, 75.0, 100.0, 110.0, 150.0, 200.0, 300.0)
RTTY_SHIFTS = (23, 85, 160, 170, 182, 200, 240, 350, 425, 850)


class Settings:
    """What the command line asks of fldigi's modem."""

    def __init__(self, args):
        self.mode = args.mode
        self.carrier = args.carrier
        self.afc = args.afc == "on"
        self.rtty_baud = RTTY_BAUDS.index(float(args.rtty_baud))
        self.rtty_shift = args.rtty_shift
        self.unshift_on_space = args.unshift_on_space == "on"
        self.cw_wpm = args.cw_wpm
        # fldigi's RTTY reverse setting leaves its transmitter as it is; its sideband button
        # reverses both directions.
        self.reverse = args.reverse or args.rtty_reverse

    def longest_character(self):
        """Seconds the slowest character of the mode takes to send, with room to spare."""
        if self.mode == "CW":
            return 30 / self.cw_wpm  # a figure: 19 dots, a letter space and margin, at 1.2/wpm s a dot
        if self.mode == "RTTY":
            return 16 / RTTY_BAUDS[self.rtty_baud]  # a shift and a character of 7.5 bits each
        symbol_rate = {"31": 31.25, "63": 62.5, "125": 125.0}[self.mode[4:]]
        return 14 / symbol_rate  # the longest varicode, 12 bits with its gap, and margin

    def shift_index(self):
        if self.rtty_shift in RTTY_SHIFTS:
            return RTTY_SHIFTS.index(self.rtty_shift)
        return len(RTTY_SHIFTS)

    def def_xml(self):
        """fldigi_def.xml: fldigi reads only the tags present and skips its first-start wizard."""
        tags = {
            "AUDIOIO": 2,  # PulseAudio
            "INSAMPLERATE": RATE,
            "OUTSAMPLERATE": RATE,
            "CONFIRMEXIT": 0,
            "NAGME": 0,
            "CHECK_FOR_UPDATES": 0,
            "SLOWCPU": 0,
            "TX_TIMEOUT": 600,  # minutes; a long CW text must not be cut off
            "RECEIVERSID": 0,
            "TRANSMITRSID": 0,
            "STARTATSWEETSPOT": 0,
            "CWSWEETSPOT": self.carrier,
            "RTTYSWEETSPOT": self.carrier,
            "PSKSWEETSPOT": self.carrier,
            "RTTYBAUD": self.rtty_baud,
            "RTTYSHIFT": self.shift_index(),
            "RTTYCUSTOMSHIFT": self.rtty_shift,
            "RTTYCRCLF": 0,
            "RTTYAUTOCRLF": 0,
            "UOSRX": int(self.unshift_on_space),
            "UOSTX": int(self.unshift_on_space),
            "CWSPEED": self.cw_wpm,
            "CWDEFSPEED": self.cw_wpm,
            "RX_LOWERCASE": 0,
            "TX_LOWERCASE": 0,
        }
        body = "".join(f"<{k}>{v}</{k}>\n" for k, v in tags.items())
        return f"<FLDIGI_DEFS>\n{body}</FLDIGI_DEFS>\n"

    def prefs(self, ports):
        """fldigi.prefs: the last state, which wins over fldigi_def.xml at start."""
        values = {
            "mode_name": self.mode,
            "wf_carrier": self.carrier,
            "squelch_enabled": 0,
            "afc_enabled": int(self.afc),
            "reverse": int(self.reverse),
            "rtty_shift": self.shift_index(),
            "rtty_custom_shift": self.rtty_shift,
            "rtty_baud": self.rtty_baud,
            "rtty_crcrlf": 0,
            "rtty_autocrlf": 0,
            "uosrx": int(self.unshift_on_space),
            "uostx": int(self.unshift_on_space),
            "xmlrpc_port": ports["xmlrpc"],
            "arq_port": ports["arq"],
            "kiss_io_port": ports["kiss_io"],
            "kiss_out_port": ports["kiss_out"],
        }
        body = "".join(f"{k}:{v}\n" for k, v in values.items())
        return "; FLTK preferences file format 1.0\n; vendor: w1hkj.com\n; application: fldigi\n\n[.]\n\n" + body
