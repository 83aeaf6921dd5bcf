package at.Quarvel.riverod.admin;

import qtest.Marker;

/** Stand-in dialog: records that it was started. */
public class JDlgZert {
    public static void main() {
        Marker.write("JDlgZert.main");
    }
}
