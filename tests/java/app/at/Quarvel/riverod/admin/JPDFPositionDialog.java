package at.Quarvel.riverod.admin;

import qtest.Marker;

/** Stand-in dialog: records that it was started. */
public class JPDFPositionDialog {
    public static void main() {
        Marker.write("JPDFPositionDialog.main");
    }
}
