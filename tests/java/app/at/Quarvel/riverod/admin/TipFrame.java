package at.Quarvel.riverod.admin;

import qtest.Marker;

/** Stand-in dialog: records that it was started. */
public class TipFrame {
    public static void main() {
        Marker.write("TipFrame.main");
    }
}
