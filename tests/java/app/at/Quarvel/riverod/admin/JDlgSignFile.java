package at.Quarvel.riverod.admin;

import qtest.Marker;

/**
 * Stand-in sign-file dialog: records the path it was started with (or null). Asked
 * "slowsign", it then takes five seconds, as a dialog the user leaves open does, and
 * records "JDlgSignFile.done".
 */
public class JDlgSignFile {
    public static void main(String[] args) throws InterruptedException {
        Marker.write("JDlgSignFile.main " + (args == null ? "null" : String.join("|", args)));
        if (Marker.asked("slowsign")) {
            Thread.sleep(5000);
            Marker.write("JDlgSignFile.done");
        }
    }
}
