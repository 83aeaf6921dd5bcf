package at.Quarvel.card.access;

import qtest.Marker;

/** Stand-in dialog: records that it was started. */
public class unblockPIN {
    public static void main() {
        Marker.write("unblockPIN.main");
    }
}
