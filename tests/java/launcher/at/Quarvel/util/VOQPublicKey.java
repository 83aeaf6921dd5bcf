package at.Quarvel.util;

import java.security.PublicKey;

/** Stand-in: the root public key whose encoding the host supplies. */
public class VOQPublicKey implements PublicKey {
    private static final long serialVersionUID = 1L;

    public VOQPublicKey() {}

    public native byte[] myGetEncoded();

    @Override
    public byte[] getEncoded() {
        return myGetEncoded();
    }

    @Override
    public String getAlgorithm() {
        return "DSA";
    }

    @Override
    public String getFormat() {
        return "X.509";
    }
}
