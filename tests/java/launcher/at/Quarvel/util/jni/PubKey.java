package at.Quarvel.util.jni;

/** Stand-in: a card's RSA public key. */
public class PubKey {
    public byte[] modulus;
    public byte[] exponent;

    public PubKey() {}
}
