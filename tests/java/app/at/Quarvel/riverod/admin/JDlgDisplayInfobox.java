package at.Quarvel.riverod.admin;

import qtest.Marker;

/** Stand-in dialog: records that it was started. */
public class JDlgDisplayInfobox {
    public static void main() {
        Marker.write("JDlgDisplayInfobox.main");
    }
}
