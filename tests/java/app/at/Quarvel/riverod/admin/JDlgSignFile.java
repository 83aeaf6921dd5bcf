package at.Quarvel.riverod.admin;

import at.Quarvel.util.jni.CardAdminException;
import at.Quarvel.util.jni.FileInfo;
import at.Quarvel.util.jni.Hash;
import at.Quarvel.util.jni.Reader;
import at.Quarvel.util.jni.ReaderFactory;
import at.Quarvel.util.jni.SCard;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;
import qtest.Marker;

/**
 * Stand-in sign-file dialog: records the path it was started with (or null). Asked
 * "slowsign", it then takes five seconds, as a dialog the user leaves open does, and
 * records "JDlgSignFile.done".
 *
 * Asked "signdoc", it signs the document as the user would in the real dialog, through
 * the host's natives: the reader of the user's settings, the card in it (an a-sign card:
 * the certificate in 3F00/DF01/C000, key 0x81), the document's SHA-256 by the host, the
 * signature with the PIN typed on the reader's pad. The signature goes to "<path>.sig",
 * the certificate read from the card to "<path>.cer"; marker lines say how far it got.
 * A PDF prepared for a signature in its own signature field has "<path>.signedattrs"
 * beside it: the CMS signed attributes that hold the digest of its byte range. Those
 * are what the card signs then, as the application's PDF signing does; the caller
 * assembles the PKCS#7 around the signature and writes it into the document.
 */
public class JDlgSignFile {
    public static void main(String[] args) throws InterruptedException {
        Marker.write("JDlgSignFile.main " + (args == null ? "null" : String.join("|", args)));
        if (Marker.asked("signdoc") && args != null && args.length == 1) sign(args[0]);
        if (Marker.asked("slowsign")) {
            Thread.sleep(5000);
            Marker.write("JDlgSignFile.done");
        }
    }

    private static byte[] bytes(String hex) {
        byte[] out = new byte[hex.length() / 2];
        for (int i = 0; i < out.length; ++i) out[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
        return out;
    }

    private static void sign(String path) {
        Reader reader = ReaderFactory.getReader();
        if (reader == null) {
            Marker.write("JDlgSignFile.failed no reader");
            return;
        }
        try {
            SCard card = reader.connect();
            if (card == null) {
                Marker.write("JDlgSignFile.failed no card");
                return;
            }
            Marker.write("JDlgSignFile.card " + reader.getName() + "|" + card.getClass().getSimpleName() + "|"
                    + (reader.isSecure() ? "PIN pad" : "no PIN pad"));

            for (String fid : new String[] {"3F00", "DF01"}) {
                int selected = card.changeDirectoryWithFID(bytes(fid));
                if (selected != 0) throw new IOException("cannot select " + fid + ": " + Integer.toHexString(selected));
            }
            int handle = card.open(bytes("C000"));
            FileInfo info = card.getFileInfo(handle);
            ByteArrayOutputStream certificate = new ByteArrayOutputStream();
            while (certificate.size() < info.size) {
                byte[] part = card.read(handle);
                if (part.length == 0) break;
                certificate.write(part);
            }
            card.close(handle);

            java.nio.file.Path prepared = Paths.get(path + ".signedattrs");
            byte[] document = Files.readAllBytes(Files.exists(prepared) ? prepared : Paths.get(path));
            Marker.write("JDlgSignFile.hash " + Marker.hex(Hash.hash(document, 2)));

            int init = card.signInit(0x81, bytes("840102800140"), 2);
            if (init != 0) throw new IOException("signInit: " + Integer.toHexString(init));
            for (int at = 0; at < document.length; at += 1000) {
                int updated = card.signUpdate(java.util.Arrays.copyOfRange(document, at,
                        Math.min(document.length, at + 1000)));
                if (updated != 0) throw new IOException("signUpdate: " + Integer.toHexString(updated));
            }
            byte[] signature = card.signFinal(0x81, false);
            Files.write(Paths.get(path + ".cer"), certificate.toByteArray());
            Files.write(Paths.get(path + ".sig"), signature);
            Marker.write("JDlgSignFile.signed " + path + ".sig");
        } catch (CardAdminException e) {
            Marker.write("JDlgSignFile.failed " + Integer.toHexString(e.code) + " " + e.getMessage());
        } catch (IOException e) {
            Marker.write("JDlgSignFile.failed " + e.getMessage());
        } finally {
            reader.disconnect();
            ReaderFactory.releaseInstance(reader);
        }
    }
}
