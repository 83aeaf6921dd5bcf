package at.Quarvel.riverod.admin;

import qtest.Marker;

/** Stand-in dialog: records that it was started; asked "dialogthrow", it then throws. */
public class JDlgVerifyFile {
    public static void main() {
        Marker.write("JDlgVerifyFile.main");
        if (Marker.asked("dialogthrow")) throw new IllegalStateException("JDlgVerifyFile stand-in asked to fail");
    }
}
