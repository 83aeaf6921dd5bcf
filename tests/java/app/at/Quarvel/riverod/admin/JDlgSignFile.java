package at.Quarvel.riverod.admin;

import qtest.Marker;

/** Stand-in sign-file dialog: records the path it was started with (or null). */
public class JDlgSignFile {
    public static void main(String[] args) {
        Marker.write("JDlgSignFile.main " + (args == null ? "null" : String.join("|", args)));
    }
}
