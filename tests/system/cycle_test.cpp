// A full open-launch-close cycle across the 32-bit millisecond wrap.
