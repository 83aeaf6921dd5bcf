package at.Quarvel.riverod.util;

import qtest.Marker;

/** Stand-in dialog: records that it was started. */
public class About {
    public static void main() {
        Marker.write("About.main");
    }
}
